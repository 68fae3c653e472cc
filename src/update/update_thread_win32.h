#pragma once
// UpdateThread: runs one update run of the owner's updater and, when it ends, hands the
// result code to the run's owner (which posts it to its own thread). Started and stopped
// by the owning window.
#include <cstdint>

#include "common/thread_win32.h"
#include "update/client_updater_win32.h"
#include "update/update_run_owner_win32.h"

namespace velm {

class UpdateThread : public Thread {
public:
    ~UpdateThread() override { Stop(kDefaultStopTimeoutMs); }

    // Before Start; both outlive the thread.
    void SetRun(TClientUpdater* updater, UpdateRunOwner* owner) {
        updater_ = updater;
        owner_ = owner;
    }
protected:
    Step Run() override;
    void OnExit() override;

private:
    TClientUpdater* updater_ = nullptr;
    UpdateRunOwner* owner_ = nullptr;
    int result_ = kUpdateFailed;
};

}  // namespace velm
