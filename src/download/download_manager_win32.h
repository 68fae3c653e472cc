#pragma once
// CSTDownloadManager: the jobs of one update run and the management thread that starts
// them in the background, by weight, at most two download jobs at a time.
//
// Every operation takes the manager lock; Execute and Abort of a job run with it held,
// and the manager lock is always taken before a job's own lock. The manager does not own
// its jobs: the update run deletes them with DeleteAllJobs after SetRunning(false).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "download/download_job_win32.h"
#include "download/sync_win32.h"
#include "download/thread_win32.h"

namespace velm {

class CSTDownloadManager {
public:
    static constexpr int32_t kLoadLimit = 2;
    static constexpr DWORD kPassIntervalMs = 100;

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

    // One scheduling pass; the management thread calls it every 100 ms.
    void Schedule();

private:
    class TJobManagmantThread : public Thread {
    public:
        explicit TJobManagmantThread(CSTDownloadManager& manager) : manager_(manager) {}
        ~TJobManagmantThread() override { Stop(kDefaultStopTimeoutMs); }

    protected:
        int Run(uintptr_t) override;
        bool IsFinished(int) override { return false; }

    private:
        CSTDownloadManager& manager_;
    };

    CriticalSection lock_;
    std::vector<TDownloadJobBase*> jobs_;
    TJobManagmantThread thread_;
};

}  // namespace velm
