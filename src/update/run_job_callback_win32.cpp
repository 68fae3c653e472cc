#include "update/run_job_callback_win32.h"

namespace velm {

void RunJobCallback::OnProgress(TDownloadJobBase*, int64_t delta) {
    if (owner_) owner_->AddDoneBytes(delta);
}

void RunJobCallback::OnTotalKnown(TDownloadJobBase*, int64_t) {}

void RunJobCallback::OnJobComplete(TDownloadJobBase* job, int32_t success) {
    if (on_job_end_) on_job_end_(job, success);
}

}  // namespace velm
