#include "common/thread_win32.h"

#include <process.h>

#include <memory>
#include <mutex>
#include <vector>

#include "common/log.h"

namespace velm {
namespace {

// Waits for the run's end while taking the messages other threads send to the caller: a
// worker that sends to a window of the caller's thread (a message box owned by it
// disables it with a sent message) would otherwise wait for the caller while the caller
// waits for it. True when the run ended.
bool WaitForEnd(HANDLE ended, DWORD timeout_ms) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        const ULONGLONG spent = GetTickCount64() - start;
        DWORD left = INFINITE;
        if (timeout_ms != INFINITE) left = spent >= timeout_ms ? 0 : DWORD(timeout_ms - spent);
        DWORD waited = MsgWaitForMultipleObjects(1, &ended, FALSE, left, QS_SENDMESSAGE);
        if (waited == WAIT_OBJECT_0) return true;
        if (waited != WAIT_OBJECT_0 + 1) return false;
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

}  // namespace

// Parked threads that runs of kPooled objects borrow. Never destroyed: its threads wait
// for work until the process ends.
class ThreadPool {
public:
    static ThreadPool& Instance() {
        static ThreadPool* pool = new ThreadPool();
        return *pool;
    }

    // Runs thread's body on a parked thread, or on a new one when none is free. False
    // when a new one was needed and could not be made.
    bool Run(Thread* thread, DWORD& thread_id) {
        Worker* worker = nullptr;
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (!idle_.empty()) {
                worker = idle_.back();
                idle_.pop_back();
            }
        }
        if (!worker) {
            auto made = std::make_unique<Worker>();
            made->wake.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
            unsigned id = 0;
            UniqueHandle handle(made->wake ? reinterpret_cast<HANDLE>(
                                                 _beginthreadex(nullptr, 0, &ThreadPool::WorkerLoop, made.get(), 0, &id))
                                           : nullptr);
            if (!handle) return false;
            made->id = id;
            worker = made.release();
        }
        worker->task = thread;
        thread_id = worker->id;
        SetEvent(worker->wake.Get());
        return true;
    }

private:
    struct Worker {
        UniqueHandle wake;  // auto reset: a task was handed over
        Thread* task = nullptr;
        DWORD id = 0;
    };

    static unsigned __stdcall WorkerLoop(void* value) {
        auto* worker = static_cast<Worker*>(value);
        for (;;) {
            WaitForSingleObject(worker->wake.Get(), INFINITE);
            Thread* task = worker->task;
            worker->task = nullptr;
            const HANDLE ended = task->ended_.Get();
            task->Body();
            // Free again before the run ends, so that a restart right after the end finds
            // this thread; it takes its next task once it waits again.
            {
                std::lock_guard<std::mutex> hold(Instance().lock_);
                Instance().idle_.push_back(worker);
            }
            SetEvent(ended);
        }
    }

    std::mutex lock_;
    std::vector<Worker*> idle_;
};

Thread::~Thread() { Stop(kDefaultStopTimeoutMs); }

bool Thread::Start() {
    if (running_) {
        if (WaitForSingleObject(ended_.Get(), 0) != WAIT_OBJECT_0) return false;
        Release();
    }
    stop_requested_ = false;
    stop_event_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!ended_) ended_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stop_event_ || !ended_) return false;
    ResetEvent(ended_.Get());
    bool started = false;
    if (source_ == Source::kPooled) {
        started = ThreadPool::Instance().Run(this, thread_id_);
    } else {
        unsigned id = 0;
        UniqueHandle handle(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &Thread::Routine, this, 0, &id)));
        started = bool(handle);
        if (started) thread_id_ = id;
    }
    if (!started) {
        stop_event_.Close();
        return false;
    }
    running_ = true;
    return true;
}

unsigned __stdcall Thread::Routine(void* self) {
    auto* thread = static_cast<Thread*>(self);
    const HANDLE ended = thread->ended_.Get();
    thread->Body();
    SetEvent(ended);
    return 0;
}

void Thread::Body() {
    while (!StopRequested()) {
        if (Run() == Step::kDone) break;
    }
    OnExit();
}

Thread::StopOutcome Thread::Stop(DWORD timeout_ms) {
    if (!running_) return StopOutcome::kNotRunning;
    if (WaitForSingleObject(ended_.Get(), 0) == WAIT_OBJECT_0) {
        Release();
        return StopOutcome::kNotRunning;
    }
    RequestStop();
    if (!WaitForEnd(ended_.Get(), timeout_ms)) {
        // Never terminated: it may hold a lock (the heap's, WinINet's, the log's), and
        // killing it there would hang or corrupt the rest of the process. Nor can it be
        // let go: its steps use this object, which the caller may be about to free. So the
        // late thread is logged and waited for until its step sees the request; steps that
        // block must watch the stop event to keep this wait short.
        OnTerminate();
        LauncherLog::Instance().Write(L"Thread %d did not end within %d ms; waiting for it.\n",
                                      int(thread_id_), int(timeout_ms));
        WaitForEnd(ended_.Get(), INFINITE);
        Release();
        return StopOutcome::kEndedLate;
    }
    Release();
    return StopOutcome::kEndedInTime;
}

void Thread::Release() {
    running_ = false;
    stop_event_.Close();
}

void Thread::RequestStop() {
    if (!stop_event_) return;
    stop_requested_ = true;
    SetEvent(stop_event_.Get());
}

bool Thread::Join(DWORD timeout_ms) {
    return !running_ || WaitForSingleObject(ended_.Get(), timeout_ms) == WAIT_OBJECT_0;
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
