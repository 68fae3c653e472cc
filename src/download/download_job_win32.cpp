#include "download/download_job_win32.h"

#include "download/download_manager_win32.h"

namespace velm {

TDownloadJobBase::TDownloadJobBase() {
    lock_.Init();
    record_.job = this;
}

TDownloadJobBase::~TDownloadJobBase() = default;

int32_t TDownloadJobBase::GetState() {
    ScopedLock hold(lock_);
    return state_;
}

void TDownloadJobBase::SetState(int32_t state) {
    {
        ScopedLock hold(lock_);
        state_ = state;
    }
    if (state == kJobDone && manager_) manager_->OnJobDone();
}

int32_t TDownloadJobBase::GetResult() {
    ScopedLock hold(lock_);
    return result_;
}

void TDownloadJobBase::SetResult(int32_t result) {
    ScopedLock hold(lock_);
    result_ = result;
}

int64_t TDownloadJobBase::GetTotal() {
    ScopedLock hold(lock_);
    return total_;
}

void TDownloadJobBase::SetTotal(int64_t total) {
    ScopedLock hold(lock_);
    total_ = total;
}

void TDownloadJobBase::SetDownloaded(int64_t downloaded) {
    ScopedLock hold(lock_);
    downloaded_ = downloaded;
}

void TDownloadJobBase::AddDownloaded(int64_t delta) {
    ScopedLock hold(lock_);
    downloaded_ += delta;
}

std::wstring TDownloadJobBase::GetErrorText() {
    ScopedLock hold(lock_);
    return error_text_;
}

void TDownloadJobBase::SetErrorText(const std::wstring& text) {
    ScopedLock hold(lock_);
    error_text_ = text;
}

bool TDownloadJobBase::ReportEnd(int32_t result) {
    if (end_reported_.exchange(true)) return false;
    SetResult(result);
    if (record_.callback) record_.callback->OnJobComplete(this, result == kResultSucceeded ? 1 : 0);
    SetState(kJobDone);
    return true;
}

JobSnapshot TDownloadJobBase::GetSnapshot() {
    ScopedLock hold(lock_);
    JobSnapshot snapshot;
    snapshot.result = result_;
    snapshot.job_id = job_id_;
    snapshot.state = state_;
    snapshot.total = total_;
    snapshot.downloaded = downloaded_;
    snapshot.name = name_;
    snapshot.display_name = display_name_;
    snapshot.key = key;
    snapshot.weight = weight_;
    return snapshot;
}

}  // namespace velm
