#pragma once
// TPostDownloadProcessThread: what happens when a job of an update run ends. Diff chains
// are applied once their last diff has arrived, full downloads are checked against the
// published MD5, the hash cache and the run's counters advance, and a chain that fails
// is replaced by a full download of its file in the same run.
//
// It has no thread of its own: ProcessFinishedJob runs on whichever download-engine
// thread ends a job, up to two at once. The chains are set up by the update thread
// before any job starts and only their counters and outcome change afterwards.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "download/download_job_win32.h"
#include "update/update_planning.h"

namespace velm {

class TClientUpdater;

class TPostDownloadProcessThread {
public:
    void Init(TClientUpdater* updater) { updater_ = updater; }

    // Called by the planning of a run; fallbacks[i] is the full download of chain i.
    void ResetChains(const std::vector<PatchGroup>& groups, const std::vector<PlannedJob>& fallbacks);

    // error_line is the error-list line of a job that reported failure itself (empty
    // otherwise); it is added here, or held back while a fallback may still mend the file.
    void ProcessFinishedJob(TDownloadJobBase* job, int32_t success, const std::wstring& error_line);

    // Deletes every file a chain of the run may have left: its diffs with their transfer,
    // resume and decoding files, and the patch's staging file. Called by the update
    // thread once every job has ended; a diff that arrives after its chain was given up
    // (its fallback ended first) would otherwise stay in the installation.
    void SweepChainFiles();

private:
    struct Chain {
        int32_t count = 0;
        std::vector<ContentDigest> outputs;  // what each step must make, where the list says
        std::atomic<int32_t> done{0};
        PlannedJob fallback;
        // Under lock_:
        TDownloadJobBase* fallback_job = nullptr;
        bool resolved = false;   // the fallback has ended (or could not be queued)
        bool recovered = false;  // ... and brought the file to the release
        int32_t failed_jobs = 0;
        std::vector<std::wstring> held_lines;
    };

    // Applies every diff of a complete chain in order and puts the result in place once it
    // is the published file (md5 gets its MD5); false (with the job's error text set) when
    // a step fails or the result is not that file, and the installed file is then as it
    // was. Every diff file is deleted either way.
    bool ApplyChain(TDownloadJobBase* job, const Chain& chain, std::wstring& md5);
    // Counts a failed job of a chain and queues the chain's fallback once.
    void OnChainFailed(int32_t group, const std::wstring& line);
    void OnFallbackEnded(int32_t group, bool success, const std::wstring& line);
    int32_t FallbackGroupOf(TDownloadJobBase* job);
    bool VerifyFullDownload(TDownloadJobBase* job);

    TClientUpdater* updater_ = nullptr;
    std::vector<std::unique_ptr<Chain>> chains_;
    std::mutex lock_;
};

}  // namespace velm
