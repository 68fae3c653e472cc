#pragma once
// TWinInetDownloadJob: the download engine's own job. It fetches one file over HTTP, or
// in package mode out of an update package, through its download thread and writes it
// through its file write thread.
//
// Execute and Abort may be called from any thread (the manager calls them without its
// lock); the job orders them, so that an abort never meets a half-started job. The
// threads report through the job's counters and its callback. Destroy (through the
// manager's DeleteAllJobs) waits a bounded time for both threads before the job is
// deleted.
#include <memory>
#include <mutex>
#include <string>

#include "download/download_job_win32.h"
#include "download/download_timeouts.h"
#include "download/file_write_thread_win32.h"
#include "download/http_download_thread_win32.h"

namespace velm {

class TWinInetDownloadJob : public TDownloadJobBase {
public:
    TWinInetDownloadJob() = default;
    ~TWinInetDownloadJob() override;

    int Setup(const std::wstring& url, const std::wstring& name, DownloadFileCallback* callback,
              int64_t expected_size, uint32_t flags) override;
    void Execute() override;
    void Abort() override;
    void Destroy() override;

    // Before Execute only; the product keeps the defaults.
    void SetTimeouts(const DownloadTimeouts& timeouts) { timeouts_ = timeouts; }

private:
    DownloadTimeouts timeouts_;
    // Held by Execute and Abort.
    std::mutex control_;
    std::unique_ptr<TWinInetDownloadThread> download_thread_;
    TFileWriteThread write_thread_;
};

}  // namespace velm
