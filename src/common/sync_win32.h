#pragma once
// The locking and signalling wrappers of the engine. Each owns its kernel object and
// releases it in its destructor.
#include <windows.h>

#include <atomic>

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
    void Enter();
    void Leave();
    bool IsInitialised() const { return initialised_; }

private:
    CRITICAL_SECTION section_{};
    bool initialised_ = false;
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
    bool Create(bool manual_reset, bool initial_state, const wchar_t* name = nullptr);
    void Set();
    void Reset();
    // True when the event was (or became) signalled within the time-out; false without
    // a handle.
    bool Wait(DWORD timeout_ms);
    void Close() { handle_.Close(); }
    HANDLE Handle() const { return handle_.Get(); }

private:
    UniqueHandle handle_;
};

// Counts its units in user space and enters the kernel only to block or to wake a blocked
// waiter: the download and write threads pass one unit back and forth per chunk,
// and a kernel call per pass (a server round trip under Wine) capped the transfer rate.
class Semaphore {
public:
    bool Create(LONG initial_count, LONG maximum_count);
    // True when a unit was taken; false on time-out or when no semaphore exists.
    bool Wait(DWORD timeout_ms);
    // Adds one unit unless the count is at its maximum.
    void Release();
    void Close() { handle_.Close(); }

private:
    bool TryTake();

    UniqueHandle handle_;  // holds one wake-up per blocked waiter that a release owes
    std::atomic<LONG> count_{0};  // units free; below 0, minus the number of blocked waiters
    LONG maximum_ = 0;
};

}  // namespace velm
