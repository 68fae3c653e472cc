#include "common/thread_win32.h"

#include <process.h>

#include "common/log.h"

namespace velm {
namespace {

// Waits for the thread while taking the messages other threads send to the caller: a
// worker that sends to a window of the caller's thread (a message box owned by it
// disables it with a sent message) would otherwise wait for the caller while the caller
// waits for it. True when the thread ended.
bool WaitForEnd(HANDLE thread, DWORD timeout_ms) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        const ULONGLONG spent = GetTickCount64() - start;
        DWORD left = INFINITE;
        if (timeout_ms != INFINITE) left = spent >= timeout_ms ? 0 : DWORD(timeout_ms - spent);
        DWORD waited = MsgWaitForMultipleObjects(1, &thread, FALSE, left, QS_SENDMESSAGE);
        if (waited == WAIT_OBJECT_0) return true;
        if (waited != WAIT_OBJECT_0 + 1) return false;
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

}  // namespace

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
    if (!WaitForEnd(thread_.Get(), timeout_ms)) {
        // Never terminated: it may hold a lock (the heap's, WinINet's, the log's), and
        // killing it there would hang or corrupt the rest of the process. Nor can it be
        // let go: its steps use this object, which the caller may be about to free. So the
        // late thread is logged and waited for until its step sees the request; steps that
        // block must watch the stop event (or have OnStopRequest end their wait) to keep
        // this wait short.
        OnTerminate();
        LauncherLog::Instance().Write(L"Thread %d did not end within %d ms; waiting for it.\n",
                                      int(thread_id_), int(timeout_ms));
        WaitForEnd(thread_.Get(), INFINITE);
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
