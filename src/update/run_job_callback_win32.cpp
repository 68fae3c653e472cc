#include "update/run_job_callback_win32.h"

#include "common/log.h"

namespace velm {

int32_t RunJobCallback::OnReserved0(uintptr_t) { return 1; }

int32_t RunJobCallback::OnReserved1() { return 1; }

void RunJobCallback::OnProgress(TDownloadJobBase*, int64_t delta) {
    if (owner_) owner_->AddDoneBytes(delta);
}

void RunJobCallback::OnTotalKnown(TDownloadJobBase*, int64_t) {}

void RunJobCallback::OnJobComplete(TDownloadJobBase* job, int32_t success) {
    if (on_job_end_) on_job_end_(job, success);
}

void RunJobCallback::OnMessage(const std::wstring& text) {
    LauncherLog::Instance().Write(L"%ls", text.c_str());
}

void RunJobCallback::OnAddTotal(int64_t delta) {
    if (owner_) owner_->SetTotalBytes(owner_->GetTotalBytes() + delta);
}

}  // namespace velm
