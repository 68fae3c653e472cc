#include "update/update_thread_win32.h"

#include "update/client_updater_win32.h"

namespace velm {

int UpdateThread::Run(uintptr_t) {
    auto* updater = owner_ ? dynamic_cast<TClientUpdater*>(owner_->GetUpdater()) : nullptr;
    result_ = updater ? updater->RunUpdate() : kUpdateFailed;
    return 0;
}

void UpdateThread::OnExit(int) {
    if (owner_) owner_->PostNotify(UM_UPDATE_FINISHED, uintptr_t(result_), 0);
}

}  // namespace velm
