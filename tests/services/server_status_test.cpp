#include "services/server_status.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

TEST(ServerStatus, StatusCodeTranslation) {
    struct Case {
        int32_t status, load, state;
    } cases[] = {
        {0, 90, kServerStateNormal},   {1, 75, kServerStateNormal},
        {2, 10, kServerStateNormal},   {3, 0, kServerStateNormal},
        {4, 4, kServerStateUnavailable}, {10, 10, kServerStateHidden},
        {5, 5, kServerStateNormal},    {7, 7, kServerStateNormal},
        {9, 9, kServerStateNormal},    {11, 11, kServerStateNormal},
        {100, 100, kServerStateNormal}, {-1, -1, kServerStateNormal},
    };
    for (const Case& c : cases) {
        ServerStatus status = TranslateStatusCode(c.status);
        EXPECT_EQ(status.load_code, c.load) << c.status;
        EXPECT_EQ(status.state_code, c.state) << c.status;
    }
}

TEST(ServerStatus, RankFromBadgeFlags) {
    struct Case {
        int32_t first, second, rank;
    } cases[] = {{0, 0, 0}, {1, 0, 2}, {0, 1, 1}, {1, 1, 2}, {-5, 0, 2}, {0, 9, 1}};
    for (const Case& c : cases) EXPECT_EQ(ServerRank(c.first, c.second), c.rank) << c.first << "," << c.second;
}

TEST(ServerStatus, StatusIconFrame) {
    struct Case {
        int32_t load, state, frame;
    } cases[] = {
        {90, 0, 3}, {75, 0, 2}, {10, 0, 1}, {0, 0, 0}, {7, 0, 0},
        {4, kServerStateUnavailable, 4}, {90, kServerStateUnavailable, 4},
    };
    for (const Case& c : cases) EXPECT_EQ(StatusIconFrame(c.load, c.state), c.frame) << c.load;
}

TEST(ServerStatus, BadgeFrameAnimatesEachBadgeOverItsOwnTwentyOneFrames) {
    struct Case {
        int32_t first, second;
        uint32_t tick;
        int32_t frame;
    } cases[] = {
        {0, 0, 5000, -1}, {1, 0, 0, 0},    {1, 0, 199, 1},   {1, 0, 2099, 20},
        {1, 0, 2100, 0},  {1, 1, 300, 3},  {0, 1, 0, 21},    {0, 1, 2099, 41},
        {0, 1, 4294967295u, 21 + int32_t((4294967295u / 100) % 21)},
    };
    for (const Case& c : cases) EXPECT_EQ(BadgeFrame(c.first, c.second, c.tick), c.frame) << c.tick;
}

}  // namespace
}  // namespace velm
