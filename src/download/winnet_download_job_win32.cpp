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
    record_.transfer_file = compressed ? name + L".cmp" : name;
    record_.final_file = compressed ? name : std::wstring();
    record_.callback = callback;
    name_ = name;
    total_ = expected_size > 0 ? expected_size : 0;
    flags_ = flags;
    return 1;
}

int TWinInetDownloadJob::Execute() {
    if (abort_flag) {
        Abort();
        return 1;
    }
    {
        ScopedLock hold(lock_);
        state_ = kJobRunning;
        result_ = kResultNone;
    }
    if (manager_ && manager_->PackageMode()) {
        if (!manager_->IsInUpdatePackages(record_.url)) {
            LauncherLog::Instance().Write(
                L"file \"%ls\" not in update package, you should update it in launcher later.\n",
                record_.url.c_str());
            SetState(kJobDone);
            SetResult(kResultSucceeded);
            if (record_.callback) record_.callback->OnJobComplete(this, 1);
            return 1;
        }
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

int TWinInetDownloadJob::Abort() {
    if (!download_thread_) {
        SetResult(kResultFailed);
        if (record_.callback) record_.callback->OnJobComplete(this, 0);
        return 0;
    }
    // A job the write thread has already ended may still have its download thread on the
    // way out; stopping that thread is not an abort it would report, so it counts as ended.
    const bool ended_before = GetState() == kJobDone;
    if (download_thread_->Stop(kThreadEndWaitMs) == 0 || ended_before) {
        // The thread had ended already, or was cut off: nobody else will end the job, and a
        // write thread left waiting for chunks must not outlive it.
        write_thread_.SignalAbort();
        SetResult(kResultFailed);
        if (record_.callback) record_.callback->OnJobComplete(this, 0);
        SetState(kJobDone);
    }
    return 0;
}

void TWinInetDownloadJob::Destroy() {
    if (download_thread_) download_thread_->Join(kThreadEndWaitMs);
    write_thread_.Join(kThreadEndWaitMs);
    delete this;
}

}  // namespace velm
