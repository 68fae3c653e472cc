#pragma once
// Thread: runs a loop of virtual steps on an operating-system thread, and owns the
// manual-reset stop event through which its owner asks it to end and the event that says
// it has ended.
//
// Start, Stop, RequestStop and Join are called by the owning thread; the virtual steps run
// on the other one. The object owns both events and releases each exactly once; the
// thread body never closes them, so an owner may stop a thread that is ending by itself
// at the same moment. A derived class whose steps use its own members must call Stop in
// its own destructor: by the time the base destructor runs, they are gone.
//
// Each Start creates a thread of its own, unless the object was made with kPooled: its runs
// then borrow a parked thread of a process-wide pool (made when none is free, parked again
// after the run, never ended). That is for short work started often, such as the threads
// of each download job: under Wine, creating a thread is a server round trip plus the
// thread start of every loaded DLL, which costs more than fetching a small file.
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "common/handle_win32.h"

namespace velm {

class Thread {
public:
    static constexpr DWORD kDefaultStopTimeoutMs = 5000;

    // What a step asks of the loop.
    enum class Step { kAgain, kDone };
    // How a Stop ended. Either way the thread has ended when Stop returns.
    enum class StopOutcome {
        kNotRunning,   // there was no thread, or it had ended by itself already
        kEndedInTime,  // it saw the request and ended within the time-out
        kEndedLate,    // it ended only after the time-out (OnTerminate was called then)
    };

    enum class Source { kOwnThread, kPooled };

    explicit Thread(Source source = Source::kOwnThread) : source_(source) {}
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // False when the thread or its stop event cannot be created, or when a previous run
    // of this object is still going.
    bool Start();
    // Asks the thread to end and waits for it: a thread is never terminated (see Stop).
    StopOutcome Stop(DWORD timeout_ms);
    void RequestStop();
    // True when the thread has ended (or none exists) within the wait.
    bool Join(DWORD timeout_ms);
    DWORD GetThreadId() const { return thread_id_; }

    // For the steps: whether the owner asked to stop, and the event to wait on with
    // other handles so that a blocking wait still reacts to the request.
    bool StopRequested() const;
    HANDLE StopEvent() const { return stop_event_.Get(); }
    // Waits up to timeout_ms; true when a stop was requested meanwhile.
    bool WaitForStop(DWORD timeout_ms) const;

protected:
    // One step of the thread's work; the loop runs it again until it is done or a stop is
    // requested.
    virtual Step Run() = 0;
    // The last call on the thread, after its last step.
    virtual void OnExit() {}
    // Called when a thread has not ended within Stop's time-out: the hook for logging it.
    virtual void OnTerminate() {}

private:
    friend class ThreadPool;

    static unsigned __stdcall Routine(void* self);
    // The steps and OnExit of one run. Whoever runs it sets the ended event afterwards,
    // and touches the object no more: its owner may free it the moment the event is set.
    void Body();
    // Forgets a run that has ended.
    void Release();

    const Source source_;
    DWORD thread_id_ = 0;
    bool running_ = false;  // a run was started and not yet released; the owner's only
    UniqueHandle ended_;    // manual reset: set by the run's last act
    UniqueHandle stop_event_;
    // Mirrors the stop event so that steps polling it once per chunk need no kernel call.
    std::atomic<bool> stop_requested_{false};
};

}  // namespace velm
