#pragma once
// CSTDownloadManager: the jobs of one update run and the management thread that starts
// them in the background, by weight, at most two download jobs at a time. The thread
// sleeps until a job is added or a job ends, and then starts what may start.
//
// The manager lock guards the list; it is never held while a job is executed, aborted or
// destroyed, nor while a job reports its end, so that those may take their time (the end
// of a job is where the update run hashes and patches files). Jobs stay alive for as long
// as any operation uses them: DeleteAllJobs waits until no AbortAll, AbortJob or
// scheduling pass is still working with the jobs it deletes. The manager does not own
// its jobs: the update run deletes them with DeleteAllJobs after SetRunning(false).
#include <atomic>
#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

#include "common/handle_win32.h"
#include "common/sync_win32.h"
#include "common/thread_win32.h"
#include "download/download_job_win32.h"
#include "download/download_rate_limiter_win32.h"
#include "formats/pack_file.h"

namespace velm {

class CSTDownloadManager {
public:
    static constexpr int32_t kLoadLimit = 2;

    CSTDownloadManager();
    ~CSTDownloadManager();
    CSTDownloadManager(const CSTDownloadManager&) = delete;
    CSTDownloadManager& operator=(const CSTDownloadManager&) = delete;

    void AddJob(TDownloadJobBase* job);
    void RemoveJob(TDownloadJobBase* job);
    void AbortJob(const std::wstring& key);
    void AbortAll();
    void DeleteAllJobs();
    bool AreAllJobsDone();
    int CountActiveJobs();
    bool FindUnfinishedJob(JobSnapshot& snapshot);
    void GetJobSnapshots(std::vector<JobSnapshot>& snapshots);
    void SetRunning(bool on);
    // Waits until every job of the list is Done (true), the cancel event (may be null) is
    // set or the time-out passes (false).
    bool WaitUntilAllDone(HANDLE cancel, DWORD timeout_ms);

    // The player's cap on the download rate of all jobs together, in bytes per second;
    // 0 for none. Takes effect at the next read of every running job.
    void SetMaxBytesPerSecond(int64_t bytes_per_second) { rate_limiter_.SetRate(bytes_per_second); }
    // What the HTTP download threads draw from after each read; locks on its own.
    DownloadRateLimiter& RateLimiter() { return rate_limiter_; }

    // One scheduling pass: starts the waiting jobs that fit the load, in list order. The
    // management thread runs it whenever a job was added or has ended.
    void Schedule();
    // A job of the list has become Done (TDownloadJobBase::SetState calls it).
    void OnJobDone();

    // Package mode: jobs take their files out of the opened update packages instead of
    // the network. The packages are added before SetRunning(true) and only read after
    // it, so these operations take no lock; any thread may read at any time.
    void SetPackageMode(int32_t value) { package_mode_ = value; }
    int32_t PackageMode() const { return package_mode_; }
    // Opens the package at base_offset in host_path and appends it to the list, where it
    // stays even when opening failed (it then holds no entries). 1 when it opened.
    int AddUpdatePackage(const std::wstring& host_path, int64_t base_offset);
    int IsInUpdatePackages(const std::wstring& name) const;
    // The first package in list order that holds name and can open it: its entry handle,
    // with pack pointing at the package; an invalid handle when there is none.
    PackEntryHandle OpenInUpdatePackages(const std::wstring& name, const PackFile*& pack,
                                         int64_t* data_offset, int64_t* file_size) const;
    int ReadUpdatePackage(const PackFile* pack, PackEntryHandle& handle, void* buffer,
                          size_t count, int64_t& bytes_read) const;
    // Extracts name from the first package that can; 1 on success.
    int ExtractFromUpdatePackages(const std::wstring& name, const std::wstring& destination) const;

private:
    class TJobManagmantThread : public Thread {
    public:
        explicit TJobManagmantThread(CSTDownloadManager& manager) : manager_(manager) {}
        ~TJobManagmantThread() override { Stop(kDefaultStopTimeoutMs); }

    protected:
        Step Run() override;

    private:
        CSTDownloadManager& manager_;
    };

    // Sets or clears all_done_ to match the list; under lock_.
    void UpdateAllDoneLocked();
    std::vector<TDownloadJobBase*> JobsWithKey(const std::wstring* key);

    CriticalSection lock_;
    std::vector<TDownloadJobBase*> jobs_;
    // Jobs a scheduling pass has picked and is executing: they count for the load until
    // their own state says Running (or Done).
    std::vector<TDownloadJobBase*> starting_;
    // Held shared by whoever works with jobs outside lock_, exclusively by DeleteAllJobs.
    std::shared_mutex jobs_in_use_;
    // Auto reset: a job was added or has ended, so a pass may start something.
    UniqueHandle wake_;
    // Manual reset: set while every job of the list is Done.
    UniqueHandle all_done_;
    std::atomic<int32_t> package_mode_{0};
    // Declared before the thread so that they outlive it.
    std::vector<std::unique_ptr<PackFile>> packages_;
    DownloadRateLimiter rate_limiter_;
    TJobManagmantThread thread_;
};

}  // namespace velm
