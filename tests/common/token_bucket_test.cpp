#include "common/token_bucket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace velm {
namespace {

constexpr int64_t kSecond = 1000000;

// Readers that each read `read` bytes, then wait what the bucket says, for `span` of
// simulated time; returns the bytes they took in all.
int64_t SimulateReaders(TokenBucket& bucket, int readers, int64_t read, int64_t span) {
    std::vector<int64_t> next(size_t(readers), 0);
    int64_t taken = 0;
    for (;;) {
        auto earliest = std::min_element(next.begin(), next.end());
        if (*earliest >= span) return taken;
        taken += read;
        *earliest += bucket.Take(read, *earliest);
    }
}

TEST(TokenBucket, ReadersTogetherKeepTheRate) {
    struct Case {
        int64_t rate;
        int readers;
        int64_t read;
    } cases[] = {
        {2 << 20, 1, 64 << 10},
        {2 << 20, 2, 64 << 10},    // two jobs share one cap
        {100 << 10, 2, 5 << 10},   // small reads
        {3000, 3, 1024},           // a rate that no read size divides
        {64 << 20, 2, 64 << 10},
    };
    for (const auto& c : cases) {
        TokenBucket bucket;
        bucket.SetRate(c.rate, 0);
        const int64_t span = 10 * kSecond;
        const int64_t taken = SimulateReaders(bucket, c.readers, c.read, span);
        // Ten seconds at the rate, plus at most the starting burst and one read per reader.
        const int64_t expected = c.rate * 10;
        EXPECT_GE(taken, expected) << c.rate << " " << c.readers;
        EXPECT_LE(taken, expected + c.rate / 20 + c.read * c.readers) << c.rate << " " << c.readers;
    }
}

TEST(TokenBucket, WaitsPayTheDebtAndNoBurstOutlastsFiftyMilliseconds) {
    TokenBucket bucket;
    bucket.SetRate(1000000, 0);  // a byte per microsecond
    EXPECT_EQ(bucket.Take(50000, 0), 0) << "a full bucket holds 50 ms";
    EXPECT_EQ(bucket.Take(1000, 0), 1000) << "beyond it the reader waits for its bytes";
    EXPECT_EQ(bucket.Take(1000, 0), 2000) << "a second reader waits behind the first";
    // A long idle time refills no more than the burst.
    EXPECT_EQ(bucket.Take(50000, 3600 * kSecond), 0);
    EXPECT_EQ(bucket.Take(1, 3600 * kSecond), 1);
    // A clock that steps back refills nothing and asks for no negative wait.
    EXPECT_EQ(bucket.Take(10, 3600 * kSecond - 5 * kSecond), 11);
}

TEST(TokenBucket, NoRateMeansNoWaitAndReadsAreSizedToABurst) {
    TokenBucket off;
    EXPECT_FALSE(off.Limited());
    EXPECT_EQ(off.Take(int64_t(1) << 40, 0), 0);
    EXPECT_EQ(off.ReadAllowance(65536), 65536);
    off.SetRate(-5, 0);
    EXPECT_EQ(off.Take(1000, 0), 0);

    struct Case {
        int64_t rate;
        int64_t allowance;
    } cases[] = {
        {2 << 20, 65536},             // 50 ms is more than a read
        {640 << 10, 32768},           // 50 ms of 640 KiB/s
        {1024, 1024},                 // never below 1 KiB
        {int64_t(1) << 50, 65536},    // held at the largest rate
    };
    for (const auto& c : cases) {
        TokenBucket bucket;
        bucket.SetRate(c.rate, 0);
        EXPECT_TRUE(bucket.Limited());
        EXPECT_EQ(bucket.ReadAllowance(65536), c.allowance) << c.rate;
    }
    TokenBucket huge;
    huge.SetRate(int64_t(1) << 50, 0);
    EXPECT_EQ(huge.Rate(), TokenBucket::kMaxBytesPerSecond);
    EXPECT_GE(huge.Take(int64_t(1) << 62, 0), 0) << "an absurd take stays in range";
}

}  // namespace
}  // namespace velm
