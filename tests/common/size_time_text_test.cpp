#include "common/size_time_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace velm {
namespace {

TEST(SizeTimeText, SizeSwitchesUnitAtEachBoundary) {
    struct Case {
        int64_t bytes;
        const wchar_t* text;
    } cases[] = {
        {0, L"0.00KB"},
        {1536, L"1.50KB"},
        {1048575, L"1024.00KB"},
        {1048576, L"1.00MB"},
        {1073741823, L"1024.00MB"},
        {1073741824, L"1.00GB"},
        {int64_t(5) << 40, L"5120.00GB"},
        {-1536, L"-1.50KB"},
        {-(int64_t(5) << 30), L"-5242880.00KB"},
    };
    for (const auto& c : cases) EXPECT_EQ(SizeText(c.bytes), c.text) << c.bytes;
}

TEST(SizeTimeText, TimeHasTwoDigitFieldsAndUnboundedHours) {
    struct Case {
        int64_t seconds;
        const wchar_t* text;
    } cases[] = {
        {0, L"00:00:00"},
        {59, L"00:00:59"},
        {3599, L"00:59:59"},
        {3725, L"01:02:05"},
        {360000, L"100:00:00"},
        {-3725, L"-01:02:05"},
        {std::numeric_limits<int64_t>::min(), L"-2562047788015215:30:08"},
    };
    for (const auto& c : cases) EXPECT_EQ(TimeText(c.seconds), c.text) << c.seconds;
}

}  // namespace
}  // namespace velm
