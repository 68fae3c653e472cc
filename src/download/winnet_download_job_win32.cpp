#include "download/winnet_download_job_win32.h"

#include "common/log.h"
#include "download/download_manager_win32.h"
#include "download/package_download_thread_win32.h"

namespace velm {
namespace {

constexpr DWORD kThreadEndWaitMs = 5000;

}  // namespace

TWinInetDownloadJob::~TWinInetDownloadJob() {
    // The download thread feeds the write thread: it has to go first.
    download_thread_.reset();
}

int TWinInetDownloadJob::Setup(const std::wstring& url, const std::wstring& name,
                               DownloadFileCallback* callback, int64_t expected_size,
                               uint32_t flags) {
    ScopedLock hold(lock_);
    const bool compressed = (flags & kJobFlagCompressed) != 0;
    record_.url = url;
    record_.transfer_file = name + (compressed ? L".cmp" : kPlainStagingSuffix);
    record_.final_file = name;
    record_.callback = callback;
    name_ = name;
    total_ = expected_size > 0 ? expected_size : 0;
    flags_ = flags;
    return 1;
}

int TWinInetDownloadJob::Execute() {
    if (abort_flag) {
        // Aborted before it ever ran: ended now, whether or not Abort reported it already.
        if (!ReportEnd(kResultFailed)) SetState(kJobDone);
        return 1;
    }
    {
        ScopedLock hold(lock_);
        state_ = kJobRunning;
        result_ = kResultNone;
    }
    // Execute runs under the manager's lock: it only starts threads. Whether a package
    // holds the file is the package thread's first question, so that the job's completion
    // (and the hashing behind it in the update run) never runs under that lock.
    if (manager_ && manager_->PackageMode()) {
        download_thread_ =
            std::make_unique<TWinInetUpdatePackageDownloadThread>(write_thread_, timeouts_);
    } else {
        download_thread_ = std::make_unique<TWinInetDownloadThread>(write_thread_, timeouts_);
    }
    download_thread_->SetJob(this);
    write_thread_.SetJob(this);
    write_thread_.Start(reinterpret_cast<uintptr_t>(&record_));
    download_thread_->Start(reinterpret_cast<uintptr_t>(&record_));
    LauncherLog::Instance().Write(L"downloadjob execute %d, %d, %d\n", download_thread_->Serial(),
                                  int(download_thread_->GetThreadId()),
                                  int(write_thread_.GetThreadId()));
    return 1;
}

// Ends the job as failed unless it has ended already; a job reports exactly once. The
// write thread is told first, so that a decode in progress stops at its next block and
// the files of an interrupted transfer stay for the next run to resume.
int TWinInetDownloadJob::Abort() {
    abort_flag = 1;
    if (!download_thread_) {
        // The scheduler may still reach it: Execute then sees the flag and only marks it Done.
        if (end_reported_.exchange(true)) return 0;
        SetResult(kResultFailed);
        if (record_.callback) record_.callback->OnJobComplete(this, 0);
        return 0;
    }
    write_thread_.SignalAbort();
    download_thread_->Stop(kThreadEndWaitMs);
    write_thread_.Join(kThreadEndWaitMs);
    ReportEnd(kResultFailed);
    return 0;
}

void TWinInetDownloadJob::Destroy() {
    if (download_thread_) download_thread_->Join(kThreadEndWaitMs);
    write_thread_.Join(kThreadEndWaitMs);
    delete this;
}

}  // namespace velm
