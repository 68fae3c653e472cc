#include "common/token_bucket.h"

#include <algorithm>

namespace velm {
namespace {

constexpr int64_t kMicrosPerSecond = 1000000;
// Far more than one read; keeps the scaled debt of many takes in range.
constexpr int64_t kMaxTakeBytes = int64_t(1) << 32;

}  // namespace

void TokenBucket::SetRate(int64_t bytes_per_second, int64_t now_us) {
    rate_ = std::clamp<int64_t>(bytes_per_second, 0, kMaxBytesPerSecond);
    capacity_ = std::max<int64_t>(rate_ * kBurstMicros / kMicrosPerSecond, 1);
    scaled_tokens_ = capacity_ * kMicrosPerSecond;
    last_us_ = now_us;
}

void TokenBucket::Refill(int64_t now_us) {
    // A clock that steps back refills nothing.
    const int64_t elapsed = std::max<int64_t>(now_us - last_us_, 0);
    last_us_ = std::max(last_us_, now_us);
    const int64_t full = capacity_ * kMicrosPerSecond;
    if (scaled_tokens_ >= full) return;
    // A long idle time only fills the bucket; its product with the rate could overflow.
    const int64_t room = full - scaled_tokens_;
    if (elapsed >= room / rate_ + 1) {
        scaled_tokens_ = full;
    } else {
        scaled_tokens_ += elapsed * rate_;
    }
}

int64_t TokenBucket::Take(int64_t bytes, int64_t now_us) {
    if (rate_ <= 0 || bytes <= 0) return 0;
    Refill(now_us);
    scaled_tokens_ -= std::min(bytes, kMaxTakeBytes) * kMicrosPerSecond;
    if (scaled_tokens_ >= 0) return 0;
    // Rounded up: waking a microsecond early would leave the debt unpaid.
    return (-scaled_tokens_ + rate_ - 1) / rate_;
}

int64_t TokenBucket::ReadAllowance(int64_t max_read) const {
    if (rate_ <= 0) return max_read;
    return std::clamp<int64_t>(rate_ * kBurstMicros / kMicrosPerSecond, std::min(kMinReadBytes, max_read),
                               max_read);
}

}  // namespace velm
