#include "common/thread_win32.h"

#include <process.h>

namespace velm {

Thread::~Thread() { Stop(kDefaultStopTimeoutMs); }

bool Thread::Start(uintptr_t argument, int mode) {
    argument_ = argument;
    if (thread_) {
        if (WaitForSingleObject(thread_.Get(), 0) != WAIT_OBJECT_0) return false;
        Release();
    }
    stop_requested_ = false;
    stop_event_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stop_event_) return false;
    unsigned id = 0;
    uintptr_t handle = _beginthreadex(nullptr, 0, &Thread::Routine, this,
                                      mode == kSuspended ? CREATE_SUSPENDED : 0, &id);
    if (handle == 0) {
        stop_event_.Close();
        return false;
    }
    thread_.Reset(reinterpret_cast<HANDLE>(handle));
    thread_id_ = id;
    return true;
}

unsigned __stdcall Thread::Routine(void* self) { return static_cast<Thread*>(self)->Body(); }

unsigned Thread::Body() {
    OnBegin(argument_);
    int result = 0;
    bool finished = false;
    while (!StopRequested()) {
        result = Run(argument_);
        if (IsFinished(result)) {
            finished = true;
            break;
        }
    }
    OnExit(result);
    return finished ? unsigned(result) : 0u;
}

int Thread::Stop(DWORD timeout_ms) {
    if (!thread_ || !stop_event_) return 0;
    if (WaitForSingleObject(thread_.Get(), 0) == WAIT_OBJECT_0) {
        Release();
        return 0;
    }
    OnStopRequest();
    stop_requested_ = true;
    SetEvent(stop_event_.Get());
    // A suspended thread cannot see the request.
    ResumeThread(thread_.Get());
    if (WaitForSingleObject(thread_.Get(), timeout_ms) != WAIT_OBJECT_0) {
        OnTerminate();
        TerminateThread(thread_.Get(), DWORD(-1));
        WaitForSingleObject(thread_.Get(), INFINITE);
        Release();
        return 0;
    }
    Release();
    return 1;
}

void Thread::Release() {
    thread_.Close();
    stop_event_.Close();
}

int Thread::RequestStop() {
    if (!stop_event_) return 1;
    stop_requested_ = true;
    SetEvent(stop_event_.Get());
    return 1;
}

int Thread::Join(DWORD timeout_ms) {
    if (!thread_) return 0;
    return WaitForSingleObject(thread_.Get(), timeout_ms) == WAIT_OBJECT_0 ? 0 : -1;
}

bool Thread::Suspend() { return thread_ && SuspendThread(thread_.Get()) != DWORD(-1); }

bool Thread::Resume() { return thread_ && ResumeThread(thread_.Get()) != DWORD(-1); }

int Thread::Terminate(int exit_code) {
    if (thread_) TerminateThread(thread_.Get(), DWORD(exit_code));
    return 1;
}

bool Thread::StopRequested() const {
    return stop_requested_;
}

bool Thread::WaitForStop(DWORD timeout_ms) const {
    if (!stop_event_) {
        Sleep(timeout_ms);
        return false;
    }
    return WaitForSingleObject(stop_event_.Get(), timeout_ms) == WAIT_OBJECT_0;
}

}  // namespace velm
