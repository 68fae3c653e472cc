#pragma once
// Thread: the owner of one operating-system thread whose body is a loop of virtual steps,
// and of the manual-reset stop event through which its owner asks it to end.
//
// Start, Stop, RequestStop and Join are called by the owning thread; the virtual steps run
// on the created thread. The object owns both handles and releases each exactly once;
// the thread body never closes them, so an owner may stop a thread that is ending by
// itself at the same moment. A derived class whose steps use its own members must call
// Stop in its own destructor: by the time the base destructor runs, they are gone.
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "common/handle_win32.h"

namespace velm {

class Thread {
public:
    static constexpr DWORD kDefaultStopTimeoutMs = 5000;
    enum StartMode { kRunNow = 0, kSuspended = 1 };

    Thread() = default;
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // False when the thread or its stop event cannot be created, or when a previous run
    // of this object is still going.
    bool Start(uintptr_t argument, int mode = kRunNow);
    // 1 when the thread ended within the time-out; 0 when it was not running, or ended
    // only after it (OnTerminate is called at the time-out, and the wait goes on: a thread
    // is never terminated, see Stop). Either way the thread has ended when Stop returns.
    int Stop(DWORD timeout_ms);
    int RequestStop();
    // 0 when the thread has ended or none exists, -1 when still running after the wait.
    int Join(DWORD timeout_ms);
    bool Suspend();
    bool Resume();
    DWORD GetThreadId() const { return thread_id_; }

    // For the steps: whether the owner asked to stop, and the event to wait on with
    // other handles so that a blocking wait still reacts to the request.
    bool StopRequested() const;
    HANDLE StopEvent() const { return stop_event_.Get(); }
    // Waits up to timeout_ms; true when a stop was requested meanwhile.
    bool WaitForStop(DWORD timeout_ms) const;

protected:
    virtual int OnBegin(uintptr_t argument) { return 0; }
    virtual int Run(uintptr_t argument) { return 0; }
    virtual bool IsFinished(int result) { return result == 0; }
    virtual void OnExit(int last_result) {}
    virtual void OnStopRequest() {}
    // Called when a thread has not ended within Stop's time-out: the hook for logging it.
    virtual void OnTerminate() {}

private:
    static unsigned __stdcall Routine(void* self);
    unsigned Body();
    // Closes the handles of a thread that has ended.
    void Release();

    uintptr_t argument_ = 0;
    DWORD thread_id_ = 0;
    UniqueHandle thread_;
    UniqueHandle stop_event_;
    // Mirrors the stop event so that steps polling it once per chunk need no kernel call.
    std::atomic<bool> stop_requested_{false};
};

// A thread that serves one download job.
class TDownloadJobBase;
class TWorkerThread : public Thread {
public:
    virtual void SetJob(TDownloadJobBase* job) { job_ = job; }
    TDownloadJobBase* Job() const { return job_; }

protected:
    TDownloadJobBase* job_ = nullptr;
};

}  // namespace velm
