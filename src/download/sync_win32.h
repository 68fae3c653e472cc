#pragma once
// The locking and signalling wrappers of the engine. Each owns its kernel object and
// releases it in its destructor.
#include <windows.h>

#include "common/handle_win32.h"

namespace velm {

class CriticalSection {
public:
    CriticalSection() = default;
    ~CriticalSection() { Delete(); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Init(const wchar_t* name = nullptr);
    void Delete();
    int Enter();
    int Leave();
    int IsInitialised() const { return initialised_; }

private:
    CRITICAL_SECTION section_{};
    int initialised_ = 0;
};

// Holds a critical section for one scope.
class ScopedLock {
public:
    explicit ScopedLock(CriticalSection& section) : section_(section) { section_.Enter(); }
    ~ScopedLock() { section_.Leave(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    CriticalSection& section_;
};

class Event {
public:
    enum WaitResult { kSignalled = 0, kMessage = 1, kAbandoned = 2, kTimeout = 3, kNoHandle = 4 };

    bool Create(bool manual_reset, bool initial_state, const wchar_t* name = nullptr);
    void Set();
    void Reset();
    int Wait(DWORD timeout_ms);
    // Also wakes for any input message in the caller's queue (kMessage).
    int WaitWithMessages(DWORD timeout_ms);
    void Close() { handle_.Close(); }
    HANDLE Handle() const { return handle_.Get(); }

private:
    UniqueHandle handle_;
};

class Semaphore {
public:
    bool Create(LONG initial_count, LONG maximum_count, const wchar_t* name = nullptr);
    // 1 when a unit was taken, 0 on time-out or when no semaphore exists.
    int Wait(DWORD timeout_ms);
    void Release();
    void Close() { handle_.Close(); }

private:
    UniqueHandle handle_;
};

}  // namespace velm
