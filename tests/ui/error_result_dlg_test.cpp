// The error result dialog, opened for real under Wine: its text, its title with the
// file list host's address, the patch page button and its layout when resized.
#include "ui/error_result_dlg_win32.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/handle_win32.h"
#include "common/sync_win32.h"
#include "common/text.h"
#include "services/loopback_env.h"
#include "services/report_list_win32.h"
#include "ui/ui_ids.h"
#include "ui/ui_test_support_win32.h"

namespace velm {
namespace {

using test::RunModal;
using test::WindowText;

const wchar_t kHeading[] = L"更新时发生下列错误\r\n";
const wchar_t kWarning[] = L" 发现客户端正在运行，请关闭客户端以保证自动更新能够顺利进行\r\n";
const wchar_t kPatchPage[] = L"http://127.0.0.1:9/download/index.shtml";

RECT ChildRect(HWND dialog, int id) {
    RECT rect{};
    GetWindowRect(GetDlgItem(dialog, id), &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

class ErrorResultDialog : public ::testing::Test {
protected:
    // One owner for the whole suite: without a window manager, Wine waits up to two
    // seconds for every top-level window it takes down.
    static void SetUpTestSuite() { owner_ = new test::TestWindow(200, 150, 400, 300, RGB(40, 40, 40)); }
    static void TearDownTestSuite() {
        delete owner_;
        owner_ = nullptr;
    }
    static test::TestWindow* owner_;

    void SetUp() override {
        const std::wstring record_url = test::Env(L"VELM_RECORD_URL");
        ASSERT_FALSE(record_url.empty()) << "run through tests/servers/serve.py --record";
        static int count = 0;
        channel_ = FormatText(L"ui-errors-%d", ++count);
        InitReports(record_url + L"/click/cs/qv", channel_);
    }
    void TearDown() override { WaitForReportThreads(); }

    INT_PTR Run(ErrorResultDlg& dialog, const std::function<void(HWND)>& drive) {
        return RunModal([&] { return dialog.DoModal(owner_->Get()); }, drive);
    }

    std::wstring channel_;
};

test::TestWindow* ErrorResultDialog::owner_ = nullptr;

TEST_F(ErrorResultDialog, ListsTheHeadingTheRunningClientWarningAndEveryLine) {
    struct Case {
        const char* name;
        bool client_running;
        std::vector<std::wstring> errors;
    } cases[] = {
        {"no client, two lines", false, {L"Download failed: a.pak 错误码：(5)拒绝访问。", L"Server IP: 127.0.0.1"}},
        {"client running", true, {L"MD5 mismatch: data\\b.pak"}},
        {"empty list still has the heading", false, {}},
        {"empty list with the client running", true, {}},
    };
    for (const Case& c : cases) {
        // The game client holds this mutex while it runs; a test holds it instead.
        UniqueHandle client;
        if (c.client_running) client.Reset(CreateMutexW(nullptr, FALSE, kGameClientMutexName));
        ErrorResultDlg dialog(c.errors, L"http://127.0.0.1:8080/qv/filelist.xml", kPatchPage);
        std::wstring text;
        INT_PTR result = Run(dialog, [&](HWND window) {
            text = WindowText(GetDlgItem(window, kErrorReportText));
            SendMessageW(window, WM_COMMAND, IDOK, 0);
        });
        EXPECT_EQ(result, IDOK) << c.name;
        std::wstring expected = kHeading;
        if (c.client_running) expected += kWarning;
        for (const std::wstring& line : c.errors) expected += line + L"\r\n";
        EXPECT_EQ(WideToUtf8(text), WideToUtf8(expected)) << c.name;
        client.Close();
        // The check for the client leaves no mutex behind.
        EXPECT_FALSE(NamedMutexExists(kGameClientMutexName)) << c.name;
    }
}

TEST_F(ErrorResultDialog, ALongListKeepsEveryLineAndOpensAtTheHeading) {
    // Beyond the 32767 characters an edit control takes by default.
    std::vector<std::wstring> errors;
    std::wstring expected = kHeading;
    for (int i = 0; i < 400; ++i) {
        errors.push_back(FormatText(L"Download failed: data\\Packages\\Archive%03d.pak 错误码：(12002)操作超时 "
                                    L"retried three times against the patch server", i));
        expected += errors.back() + L"\r\n";
    }
    ASSERT_GT(expected.size(), 40000u);
    ErrorResultDlg dialog(errors, L"", kPatchPage);
    std::wstring text;
    LRESULT first_visible = -1;
    Run(dialog, [&](HWND window) {
        text = WindowText(GetDlgItem(window, kErrorReportText));
        first_visible = SendDlgItemMessageW(window, kErrorReportText, EM_GETFIRSTVISIBLELINE, 0, 0);
        SendMessageW(window, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(text.size(), expected.size());
    EXPECT_TRUE(text == expected);
    EXPECT_EQ(first_visible, 0);
}

TEST_F(ErrorResultDialog, TitleCarriesTheFileListHostsAddress) {
    struct Case {
        std::wstring file_list_url;
        std::wstring title;
    } cases[] = {
        {L"http://127.0.0.1:8080/qv/filelist.xml", L"更新失败。\n127.0.0.1"},
        {L"HTTP://127.0.0.1/filelist.xml", L"更新失败。\n127.0.0.1"},
        {L"", L"更新失败。\n"},
        {L"http://127.0.0.1:99999/filelist.xml", L"更新失败。\n"},
    };
    for (const Case& c : cases) {
        ErrorResultDlg dialog({L"x"}, c.file_list_url, kPatchPage);
        std::wstring title;
        Run(dialog, [&](HWND window) {
            test::PumpUntil([&] { return WindowText(window) == c.title; }, 5000);
            title = WindowText(window);
            SendMessageW(window, WM_COMMAND, IDCANCEL, 0);
        });
        EXPECT_EQ(WideToUtf8(title), WideToUtf8(c.title)) << WideToUtf8(c.file_list_url);
    }
}

// A name server that takes its time: the dialog opens and answers messages at once, and
// the title and the Server IP line get their addresses when the lookups answer.
TEST_F(ErrorResultDialog, SlowLookupsFillTheAddressesInLaterWithoutFreezingTheDialog) {
    Event answer;
    ASSERT_TRUE(answer.Create(true, false));
    std::vector<std::wstring> asked;
    CriticalSection asked_lock;
    asked_lock.Init();
    ErrorResultDlg dialog({L"Download failed: a.pak"}, L"http://files.test:8080/filelist.xml", kPatchPage);
    dialog.AddServerIpLine(L"patch.test");
    dialog.SetResolver([&](const std::wstring& host) {
        {
            ScopedLock hold(asked_lock);
            asked.push_back(host);
        }
        // Held until the test has seen the dialog working; a bound keeps a broken run short.
        answer.Wait(20000);
        return host == L"files.test" ? std::wstring(L"10.0.0.7") : std::wstring(L"10.0.0.8");
    });
    std::wstring title_before, text_before, title_after, text_after;
    bool answered = false;
    Run(dialog, [&](HWND window) {
        title_before = WindowText(window);
        text_before = WindowText(GetDlgItem(window, kErrorReportText));
        // Posted input is handled while both lookups are still waiting for their answer.
        PostMessageW(GetDlgItem(window, kErrorReportText), EM_SETSEL, 0, 3);
        answered = test::PumpUntil(
            [&] {
                DWORD start = 0, end = 0;
                SendDlgItemMessageW(window, kErrorReportText, EM_GETSEL, WPARAM(&start), LPARAM(&end));
                return start == 0 && end == 3;
            },
            5000);
        answer.Set();
        test::PumpUntil([&] { return WindowText(window).find(L"10.0.0.7") != std::wstring::npos &&
                                     WindowText(GetDlgItem(window, kErrorReportText)).find(L"10.0.0.8") !=
                                         std::wstring::npos; },
                        10000);
        title_after = WindowText(window);
        text_after = WindowText(GetDlgItem(window, kErrorReportText));
        SendMessageW(window, WM_COMMAND, IDOK, 0);
    });
    EXPECT_TRUE(answered);
    EXPECT_EQ(WideToUtf8(title_before), WideToUtf8(L"更新失败。\n"));
    EXPECT_EQ(WideToUtf8(text_before),
              WideToUtf8(std::wstring(kHeading) + L"Download failed: a.pak\r\nServer IP: \r\n"));
    EXPECT_EQ(WideToUtf8(title_after), WideToUtf8(L"更新失败。\n10.0.0.7"));
    EXPECT_EQ(WideToUtf8(text_after),
              WideToUtf8(std::wstring(kHeading) + L"Download failed: a.pak\r\nServer IP: 10.0.0.8\r\n"));
    ScopedLock hold(asked_lock);
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(asked, (std::vector<std::wstring>{L"files.test", L"patch.test"}));
}

TEST_F(ErrorResultDialog, PatchButtonReportsAndOpensThePageAndKeepsTheDialogOpen) {
    ErrorResultDlg dialog({L"x"}, L"", kPatchPage);
    std::vector<std::wstring> opened;
    dialog.SetPageOpener([&](const std::wstring& url) { opened.push_back(url); });
    bool open_after_clicks = false;
    INT_PTR result = Run(dialog, [&](HWND window) {
        SendMessageW(GetDlgItem(window, kButtonPatchDownload), BM_CLICK, 0, 0);
        SendMessageW(GetDlgItem(window, kButtonPatchDownload), BM_CLICK, 0, 0);
        open_after_clicks = IsWindowVisible(window) != FALSE;
        SendMessageW(window, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(open_after_clicks);
    EXPECT_EQ(opened, (std::vector<std::wstring>{kPatchPage, kPatchPage}));
    // Both clicks ask for the event; the run's duplicate check lets one through.
    WaitForReportThreads();
    const std::string event = WideToUtf8(L"&f1=click_patchs&f2=" + channel_);
    int reports = 0;
    for (const std::string& body : test::RecordedBodies()) {
        if (body.find(event) != std::string::npos) ++reports;
    }
    EXPECT_EQ(reports, 1);
}

TEST_F(ErrorResultDialog, ResizingFillsTheWindowWithTheTextAndKeepsTheButtonInView) {
    ErrorResultDlg dialog({L"x"}, L"", kPatchPage);
    struct Shot {
        RECT client, text, button;
    };
    std::vector<Shot> shots;
    RECT start{}, owner_rect{};
    Run(dialog, [&](HWND window) {
        GetWindowRect(window, &start);
        GetWindowRect(GetWindow(window, GW_OWNER), &owner_rect);
        for (int grow : {0, 240, -60}) {
            SetWindowPos(window, nullptr, 0, 0, start.right - start.left + grow,
                         start.bottom - start.top + grow / 2, SWP_NOMOVE | SWP_NOZORDER);
            Shot shot{};
            GetClientRect(window, &shot.client);
            shot.text = ChildRect(window, kErrorReportText);
            shot.button = ChildRect(window, kButtonPatchDownload);
            shots.push_back(shot);
        }
        SendMessageW(window, WM_COMMAND, IDCANCEL, 0);
    });
    // Centred over its owner when it opened.
    EXPECT_NEAR((start.left + start.right) / 2, (owner_rect.left + owner_rect.right) / 2, 2);
    EXPECT_NEAR((start.top + start.bottom) / 2, (owner_rect.top + owner_rect.bottom) / 2, 2);
    ASSERT_EQ(shots.size(), 3u);
    const Shot& first = shots[0];
    const int right_margin = first.client.right - first.button.right;
    const int bottom_margin = first.client.bottom - first.button.bottom;
    for (const Shot& shot : shots) {
        EXPECT_EQ(shot.text.left, 0);
        EXPECT_EQ(shot.text.top, 0);
        EXPECT_EQ(shot.text.right, shot.client.right);
        EXPECT_LE(shot.text.bottom, shot.button.top);
        EXPECT_EQ(shot.client.bottom - shot.text.bottom, first.client.bottom - first.text.bottom);
        EXPECT_EQ(shot.client.right - shot.button.right, right_margin);
        EXPECT_EQ(shot.client.bottom - shot.button.bottom, bottom_margin);
        EXPECT_EQ(shot.button.right - shot.button.left, first.button.right - first.button.left);
    }
    EXPECT_GT(shots[1].text.right, shots[0].text.right);
}

}  // namespace
}  // namespace velm
