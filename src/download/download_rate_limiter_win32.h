#pragma once
// DownloadRateLimiter: the player's cap on the download rate, one for all jobs of a
// manager. Every HTTP download thread takes what it has just read and waits the time it
// is told, in slices that still notice a stop; the bucket behind it refills continuously,
// so the jobs together stay at the rate without bursts of whole seconds.
//
// Threads: any download thread may call Take and ReadAllowance at any time; SetRate is
// called by the update run between runs and takes the same lock.
#include <cstddef>
#include <cstdint>

#include "common/sync_win32.h"
#include "common/token_bucket.h"

namespace velm {

class DownloadRateLimiter {
public:
    DownloadRateLimiter() { lock_.Init(L"DownloadRateLimiter"); }

    // Bytes per second; 0 removes the cap.
    void SetRate(int64_t bytes_per_second);
    int64_t Rate();
    // How much one read should ask for at most (max_read without a cap).
    size_t ReadAllowance(size_t max_read);
    // Takes bytes just read; microseconds to wait before the next read.
    int64_t Take(size_t bytes);
    // Microseconds of a monotonic clock, the one Take measures with.
    static int64_t NowMicros();

private:
    CriticalSection lock_;
    TokenBucket bucket_;
};

}  // namespace velm
