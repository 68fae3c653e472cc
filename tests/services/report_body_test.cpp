#include "services/report_body.h"

#include <gtest/gtest.h>

#include "common/text.h"

namespace velm {
namespace {

TEST(ReportBody, FieldsInOrderAndF3OnlyWithAnExtraText) {
    struct Case {
        const wchar_t* event;
        const wchar_t* extra;
        const wchar_t* body;
    } cases[] = {
        {L"launcher", L"", L"f0=0A1B2C3D4E5F|1234ABCD&f1=launcher&f2=Orvane体验"},
        {L"start_game_failed", L"2",
         L"f0=0A1B2C3D4E5F|1234ABCD&f1=start_game_failed&f2=Orvane体验&f3=2"},
        // Values are not percent-encoded, even where they hold form syntax.
        {L"点击 a&b", L"x=y", L"f0=0A1B2C3D4E5F|1234ABCD&f1=点击 a&b&f2=Orvane体验&f3=x=y"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReportBody(L"0A1B2C3D4E5F|1234ABCD", c.event, L"Orvane体验", c.extra), c.body);
    }
}

TEST(ReportBody, GoesOutAsRawUtf8) {
    std::string bytes = WideToUtf8(ReportBody(L"M|1", L"e", L"Orvane体验", L""));
    EXPECT_EQ(bytes, "f0=M|1&f1=e&f2=Orvane\xE4\xBD\x93\xE9\xAA\x8C");
}

}  // namespace
}  // namespace velm
