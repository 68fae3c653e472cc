#include "update/update_thread_win32.h"

namespace velm {

Thread::Step UpdateThread::Run() {
    result_ = updater_ ? updater_->RunUpdate() : kUpdateFailed;
    return Step::kDone;
}

void UpdateThread::OnExit() {
    if (owner_) owner_->OnRunFinished(result_);
}

}  // namespace velm
