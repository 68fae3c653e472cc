#include "ui/progress_display.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

const ProgressTemplates kTemplates{
    L"正在检查本地文件：（ %d/%d ）",
    L"剩余：%s，共：%s | 下载速率：%s/s | 剩余时间：%s",
    L"正在解压缩：%s",
    L"正在下载 %s \n剩余：%s，共：%s",
};

ProgressSample Sample(uint32_t now, int64_t done, int64_t total, bool moving = true) {
    ProgressSample s;
    s.now_ms = now;
    s.done_bytes = done;
    s.total_bytes = total;
    s.jobs_moving = moving;
    return s;
}

TEST(FillTemplate, TakesArgumentsInOrderAndNeverInterpretsThem) {
    struct Case {
        const wchar_t* format;
        std::initializer_list<std::wstring> args;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"%s of %s", {L"a", L"b"}, L"a of b"},
        {L"(%d/%d)", {L"3", L"7"}, L"(3/7)"},
        {L"100%% %s", {L"done"}, L"100% done"},
        {L"%s %s", {L"only"}, L"only "},             // a missing argument is empty
        {L"%s", {L"%s%n%x"}, L"%s%n%x"},             // arguments are text, not formats
        {L"%x %", {L"a"}, L"%x %"},                  // unknown and trailing marks stay
        {L"", {L"a"}, L""},
    };
    for (const Case& c : cases) EXPECT_EQ(FillTemplate(c.format, c.args), c.expected) << c.format;
    EXPECT_EQ(FillTemplate(L"%s", {std::wstring(5000, L'x')}).size(), 1024u);
}

TEST(EditControlText, BareLineFeedsBecomeCrLfAndCrLfStays) {
    struct Case {
        std::wstring in, out;
    } cases[] = {
        {L"正在下载 a.pak\n速度 1.00KB/s", L"正在下载 a.pak\r\n速度 1.00KB/s"},
        {L"\nx\n", L"\r\nx\r\n"},
        {L"a\r\nb", L"a\r\nb"},
        {L"a\n\nb", L"a\r\n\r\nb"},
        {L"no break", L"no break"},
        {L"", L""},
    };
    for (const Case& c : cases) EXPECT_TRUE(EditControlText(c.in) == c.out);
}

TEST(ProgressTracker, SpeedRemainingAndTimeLeft) {
    ProgressTracker tracker(1000);
    ProgressDisplay d = tracker.Refresh(Sample(2000, 1048576, 4 * 1048576), kTemplates);
    EXPECT_EQ(d.overall_text, L"剩余：3.00MB，共：4.00MB | 下载速率：1.00MB/s | 剩余时间：00:00:03");
    EXPECT_EQ(d.overall_bar, 50);
    // Half a second later, half a MiB more: the same rate.
    d = tracker.Refresh(Sample(2500, 1048576 + 524288, 4 * 1048576), kTemplates);
    EXPECT_EQ(d.overall_text, L"剩余：2.50MB，共：4.00MB | 下载速率：1.00MB/s | 剩余时间：00:00:02");
    EXPECT_EQ(d.overall_bar, 75);
    EXPECT_TRUE(d.file_text.empty());
    EXPECT_EQ(d.file_bar, 0);
}

TEST(ProgressTracker, EdgesOfTheCounters) {
    struct Case {
        const char* name;
        int64_t done, total;
        const wchar_t* text;
        int32_t bar;
    };
    // Every case starts a fresh tracker one second after its start at 0 done bytes.
    const Case cases[] = {
        {"total unknown", 0, 0, L"剩余：0.00KB，共：0.00KB | 下载速率：0.00KB/s | 剩余时间：00:00:00", 0},
        {"done past total", 3000, 2000, L"剩余：0.00KB，共：1.95KB | 下载速率：2.93KB/s | 剩余时间：00:00:00", 200},
        {"below one byte a second", 0, 100, L"剩余：0.10KB，共：0.10KB | 下载速率：0.00KB/s | 剩余时间：00:00:00", 0},
    };
    for (const Case& c : cases) {
        ProgressTracker tracker(0);
        ProgressDisplay d = tracker.Refresh(Sample(1000, c.done, c.total), kTemplates);
        EXPECT_EQ(d.overall_text, c.text) << c.name;
        EXPECT_EQ(d.overall_bar, c.bar) << c.name;
    }
    // A new run resets done bytes below the previous refresh: negative speed shows as 0.
    ProgressTracker tracker(0);
    tracker.Refresh(Sample(1000, 5000, 10000), kTemplates);
    ProgressDisplay d = tracker.Refresh(Sample(2000, 0, 10000), kTemplates);
    EXPECT_EQ(d.overall_text, L"剩余：9.77KB，共：9.77KB | 下载速率：0.00KB/s | 剩余时间：00:00:00");
    // Two refreshes in the same tick: speed 0, no division by zero.
    d = tracker.Refresh(Sample(2000, 100, 10000), kTemplates);
    EXPECT_EQ(d.overall_bar, 2);
    // A byte now and then over a long time leaves a huge but valid time left.
    ProgressTracker slow(0);
    d = slow.Refresh(Sample(4000000000u, 1, INT64_MAX / 2), kTemplates);
    EXPECT_NE(d.overall_text.find(L"剩余时间："), std::wstring::npos);
}

TEST(ProgressTracker, CheckingShowsTheFileCountOnly) {
    ProgressTracker tracker(0);
    ProgressSample s = Sample(1000, 0, 0);
    s.checking = true;
    s.entries_examined = 25;
    s.entry_total = 100;
    s.has_current_job = true;
    s.current_name = L"x.pak";
    s.current_size = 10;
    ProgressDisplay d = tracker.Refresh(s, kTemplates);
    EXPECT_EQ(d.overall_text, L"正在检查本地文件：（ 25/100 ）");
    EXPECT_EQ(d.overall_bar, 50);
    EXPECT_TRUE(d.file_text.empty());
    EXPECT_EQ(d.file_bar, 0);
    s.entry_total = 0;
    s.entries_examined = 0;
    EXPECT_EQ(tracker.Refresh(s, kTemplates).overall_bar, 0);
}

TEST(ProgressTracker, CurrentJobText) {
    ProgressTracker tracker(0);
    ProgressSample s = Sample(1000, 0, 0);
    s.has_current_job = true;
    s.current_name = L"VelmGame\\Data\\world.pak";
    s.current_size = 2048;
    s.current_done = 512;
    ProgressDisplay d = tracker.Refresh(s, kTemplates);
    EXPECT_EQ(d.file_text, L"正在下载 VelmGame\\Data\\world.pak \n剩余：1.50KB，共：2.00KB");
    EXPECT_EQ(d.file_bar, 50);
    s.current_unpacking = true;
    EXPECT_EQ(tracker.Refresh(s, kTemplates).file_text, L"正在解压缩：VelmGame\\Data\\world.pak");
    s.current_size = 0;  // size unknown: the bar stays empty
    EXPECT_EQ(tracker.Refresh(s, kTemplates).file_bar, 0);
}

TEST(ProgressTracker, StallIsReportedPastSixtySecondsUntilProgressResumes) {
    ProgressTracker tracker(0);
    uint32_t now = 0;
    int reports = 0;
    for (int i = 0; i < 62; ++i) {
        now += 1000;
        if (tracker.Refresh(Sample(now, 100, 1000), kTemplates).report_stall) ++reports;
    }
    // The first second moved 100 bytes; 61 still seconds follow; reported above 60 s only.
    EXPECT_EQ(tracker.StallMs(), 61000u);
    EXPECT_EQ(reports, 1);
    now += 1000;
    EXPECT_TRUE(tracker.Refresh(Sample(now, 100, 1000), kTemplates).report_stall);
    now += 1000;
    EXPECT_FALSE(tracker.Refresh(Sample(now, 101, 1000), kTemplates).report_stall);
    EXPECT_EQ(tracker.StallMs(), 0u);
    // Without running jobs standing still is not a stall.
    now += 1000;
    EXPECT_FALSE(tracker.Refresh(Sample(now, 101, 1000, false), kTemplates).report_stall);
    EXPECT_EQ(tracker.StallMs(), 0u);
}

}  // namespace
}  // namespace velm
