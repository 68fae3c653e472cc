#pragma once
// UpdateThread: runs one update run of the owner's updater and, when it ends, posts
// UM_UPDATE_FINISHED with the result code to the owner (which handles it on its own
// thread). Started and stopped by the owning window.
#include <cstdint>

#include "download/dlg_base_win32.h"
#include "common/thread_win32.h"

namespace velm {

inline constexpr uint32_t UM_UPDATE_FINISHED = 0x0501;

class UpdateThread : public Thread {
public:
    ~UpdateThread() override { Stop(kDefaultStopTimeoutMs); }

    // Before Start; the owner outlives the thread.
    void SetOwner(CDlgBase* owner) { owner_ = owner; }
    int Result() const { return result_; }

protected:
    int Run(uintptr_t argument) override;
    bool IsFinished(int) override { return true; }
    void OnExit(int last_result) override;

private:
    CDlgBase* owner_ = nullptr;
    int result_ = 1;
};

}  // namespace velm
