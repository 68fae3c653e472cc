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

// Counts its units in user space and enters the kernel only to block or to wake a blocked
// waiter: the download and write threads pass one unit back and forth per chunk,
// and a kernel call per pass (a server round trip under Wine) capped the transfer rate.
class Semaphore {
public:
    bool Create(LONG initial_count, LONG maximum_count);
    // 1 when a unit was taken, 0 on time-out or when no semaphore exists.
    int Wait(DWORD timeout_ms);
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
