#pragma once
// TokenBucket: the arithmetic of a byte-rate cap shared by several readers. It refills
// continuously at the rate and holds at most a short burst's worth; a reader takes what
// it has just read and is told how long to wait before reading again. The bucket may go
// into debt: a reader that takes more than is there waits until its share has been
// refilled, so readers that take turns are spaced out rather than bunched at the edges
// of whole seconds. Not locked: its owner serialises the calls. Times are microseconds of
// any monotonic clock.
#include <cstdint>

namespace velm {

class TokenBucket {
public:
    // The longest a full bucket lets through at once, and the longest one read may be
    // worth (ReadAllowance), so that no burst is longer than this.
    static constexpr int64_t kBurstMicros = 50000;
    // Smallest read a limited reader is allowed, however low the rate.
    static constexpr int64_t kMinReadBytes = 1024;
    // Rates above this are no limit worth keeping (and keep the arithmetic in range).
    static constexpr int64_t kMaxBytesPerSecond = int64_t(1) << 40;

    // 0 (or below) turns the cap off; a rate above kMaxBytesPerSecond is held there.
    // The bucket starts full at now_us.
    void SetRate(int64_t bytes_per_second, int64_t now_us);
    int64_t Rate() const { return rate_; }
    bool Limited() const { return rate_ > 0; }

    // Takes bytes that were just read at now_us; returns how many microseconds the reader
    // waits before its next read (0 when the bucket had them).
    int64_t Take(int64_t bytes, int64_t now_us);

    // How many bytes one read should ask for at most: a burst's worth, no less than
    // kMinReadBytes, no more than max_read. max_read when there is no cap.
    int64_t ReadAllowance(int64_t max_read) const;

private:
    void Refill(int64_t now_us);

    int64_t rate_ = 0;
    int64_t capacity_ = 0;
    // Bytes available, times one million (byte-microseconds per second), so that the
    // refill of any elapsed time is exact; negative while readers are in debt.
    int64_t scaled_tokens_ = 0;
    int64_t last_us_ = 0;
};

}  // namespace velm
