#include "common/sync_win32.h"

namespace velm {

void CriticalSection::Init(const wchar_t*) {
    if (initialised_) return;
    InitializeCriticalSection(&section_);
    initialised_ = true;
}

void CriticalSection::Delete() {
    if (!initialised_) return;
    DeleteCriticalSection(&section_);
    initialised_ = false;
}

void CriticalSection::Enter() { EnterCriticalSection(&section_); }

void CriticalSection::Leave() { LeaveCriticalSection(&section_); }

bool Event::Create(bool manual_reset, bool initial_state, const wchar_t* name) {
    handle_.Reset(CreateEventW(nullptr, manual_reset, initial_state, name));
    return bool(handle_);
}

void Event::Set() {
    if (handle_) SetEvent(handle_.Get());
}

void Event::Reset() {
    if (handle_) ResetEvent(handle_.Get());
}

bool Event::Wait(DWORD timeout_ms) {
    return handle_ && WaitForSingleObject(handle_.Get(), timeout_ms) == WAIT_OBJECT_0;
}

bool Semaphore::Create(LONG initial_count, LONG maximum_count) {
    handle_.Reset(CreateSemaphoreW(nullptr, 0, LONG_MAX, nullptr));
    count_ = initial_count;
    maximum_ = maximum_count;
    return bool(handle_);
}

bool Semaphore::TryTake() {
    LONG count = count_.load();
    while (count > 0) {
        if (count_.compare_exchange_weak(count, count - 1)) return true;
    }
    return false;
}

bool Semaphore::Wait(DWORD timeout_ms) {
    if (!handle_) return false;
    // The other side usually answers within microseconds; a short spin spares the sleep.
    for (int spin = 0; spin < 4000; ++spin) {
        if (TryTake()) return true;
        YieldProcessor();
    }
    if (count_.fetch_sub(1) > 0) return true;
    if (WaitForSingleObject(handle_.Get(), timeout_ms) == WAIT_OBJECT_0) return true;
    // Timed out: withdraw as a waiter, unless a release has already counted on this one,
    // in which case its wake-up is on its way and must be consumed.
    LONG count = count_.load();
    while (count < 0) {
        if (count_.compare_exchange_weak(count, count + 1)) return false;
    }
    WaitForSingleObject(handle_.Get(), INFINITE);
    return true;
}

void Semaphore::Release() {
    if (!handle_) return;
    LONG count = count_.load();
    do {
        if (count >= maximum_) return;
    } while (!count_.compare_exchange_weak(count, count + 1));
    if (count < 0) ReleaseSemaphore(handle_.Get(), 1, nullptr);
}

}  // namespace velm
