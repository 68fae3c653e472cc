#include "download/winnet_download_job_win32.h"

#include "common/log.h"
#include "common/system_error_win32.h"
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

void TWinInetDownloadJob::Execute() {
    std::lock_guard<std::mutex> hold(control_);
    if (AbortRequested()) {
        // Aborted before it ever ran: ended now, whether or not Abort reported it already.
        if (!ReportEnd(kResultFailed)) SetState(kJobDone);
        return;
    }
    {
        ScopedLock state(lock_);
        state_ = kJobRunning;
        result_ = kResultNone;
    }
    // Whether a package holds the file is the package thread's first question, so that
    // nothing slow happens on the manager's thread.
    if (manager_ && manager_->PackageMode()) {
        download_thread_ = std::make_unique<TWinInetUpdatePackageDownloadThread>(write_thread_, timeouts_);
    } else {
        download_thread_ = std::make_unique<TWinInetDownloadThread>(write_thread_, timeouts_);
    }
    download_thread_->SetJob(this);
    write_thread_.SetJob(this);
    const bool started = write_thread_.Start() && download_thread_->Start();
    if (!started) {
        // A job whose threads cannot run still ends, once, as failed.
        const DWORD error = GetLastError();
        LauncherLog::Instance().Write(L"downloadjob execute failed, Err: %d\n", int(error));
        SetErrorText(L"Create thread failed, Error:" + SystemErrorText(error));
        write_thread_.SignalAbort();
        write_thread_.Join(INFINITE);
        download_thread_.reset();
        ReportEnd(kResultFailed);
        return;
    }
    LauncherLog::Instance().Write(L"downloadjob execute %d, %d, %d\n", download_thread_->Serial(),
                                  int(download_thread_->GetThreadId()), int(write_thread_.GetThreadId()));
}

// Ends the job as failed unless it has ended already; a job reports exactly once. The
// write thread is told first, so that a decode in progress stops at its next block and
// the files of an interrupted transfer stay for the next run to resume.
void TWinInetDownloadJob::Abort() {
    std::lock_guard<std::mutex> hold(control_);
    abort_requested_ = true;
    if (!download_thread_) {
        // The scheduler may still reach it: Execute then sees the request and only marks
        // it Done.
        if (end_reported_.exchange(true)) return;
        SetResult(kResultFailed);
        if (record_.callback) record_.callback->OnJobComplete(this, 0);
        return;
    }
    write_thread_.SignalAbort();
    download_thread_->Stop(kThreadEndWaitMs);
    write_thread_.Join(kThreadEndWaitMs);
    ReportEnd(kResultFailed);
}

void TWinInetDownloadJob::Destroy() {
    if (download_thread_) download_thread_->Join(kThreadEndWaitMs);
    write_thread_.Join(kThreadEndWaitMs);
    delete this;
}

}  // namespace velm
