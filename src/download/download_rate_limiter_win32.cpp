#include "download/download_rate_limiter_win32.h"

#include <windows.h>

namespace velm {

int64_t DownloadRateLimiter::NowMicros() {
    static const int64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return int64_t(f.QuadPart);
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    const int64_t ticks = counter.QuadPart;
    // Split so that the product stays in range for counters of any age.
    return ticks / frequency * 1000000 + ticks % frequency * 1000000 / frequency;
}

void DownloadRateLimiter::SetRate(int64_t bytes_per_second) {
    ScopedLock hold(lock_);
    bucket_.SetRate(bytes_per_second, NowMicros());
}

int64_t DownloadRateLimiter::Rate() {
    ScopedLock hold(lock_);
    return bucket_.Rate();
}

size_t DownloadRateLimiter::ReadAllowance(size_t max_read) {
    ScopedLock hold(lock_);
    return size_t(bucket_.ReadAllowance(int64_t(max_read)));
}

int64_t DownloadRateLimiter::Take(size_t bytes) {
    ScopedLock hold(lock_);
    return bucket_.Take(int64_t(bytes), NowMicros());
}

}  // namespace velm
