#include "update/update_thread_win32.h"

namespace velm {

int UpdateThread::Run(uintptr_t) {
    result_ = updater_ ? updater_->RunUpdate() : kUpdateFailed;
    return 0;
}

void UpdateThread::OnExit(int) {
    if (owner_) owner_->OnRunFinished(result_);
}

}  // namespace velm
