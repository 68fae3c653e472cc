// The real VelmLauncher.exe under Wine: single instance, start-up reports, install code,
// installation record, switches and the log.
#include <gtest/gtest.h>

#include <regex>

#include "common/config_text_ids.h"
#include "common/string_ids.h"
#include "app/launcher_harness_win32.h"
#include "app/startup_win32.h"
#include "common/file_io.h"
#include "common/text.h"

namespace velm::test {
namespace {

// Normal mode shows the main window; package mode the update window, which tells first
// when the executable carries no package. All are dialogs.
constexpr const wchar_t* kWindowClass = L"#32770";
constexpr const wchar_t* kMessageBoxClass = L"#32770";

class LauncherStartup : public ::testing::Test {
protected:
    void SetUp() override {
        record_url_ = EnvText("VELM_RECORD_URL");
        ASSERT_FALSE(record_url_.empty()) << "run through tests/servers/serve.py --record";
        registry_key_ = FormatText(L"SOFTWARE\\VelmLauncherTest\\%lu-%d", GetCurrentProcessId(), ++counter_);
        texts_ = {
            {kConfigReportUrl, record_url_ + L"/click/cs/qv"},
            {kConfigStartupClickUrl, record_url_ + L"/launch.html"},
            {kConfigInstallReportUrl, record_url_ + L"/reg_vantor/register.jsp"},
            {kConfigInstallRegistryKey, registry_key_},
            // The main window starts an update run and a server list fetch at once; they
            // go to a port nothing listens on and fail there, as on a machine offline.
            {kConfigFileListUrl, EnvText("VELM_REFUSE_URL") + L"/filelist.xml"},
            {kConfigServerListUrl, EnvText("VELM_REFUSE_URL") + L"/loginserver.txt"},
            {kConfigNewsPageUrl, L""},
        };
        baseline_ = RecordedRequests().size();
    }
    void TearDown() override { DeleteRegistryKey(registry_key_); }

    // Requests recorded since this test began.
    std::vector<RecordedRequest> NewRequests() const {
        auto all = RecordedRequests();
        return std::vector<RecordedRequest>(all.begin() + std::min(baseline_, all.size()), all.end());
    }
    // Statistics events of one name since this test began (the run may add others).
    std::vector<RecordedRequest> ReportsOf(const std::string& event) const {
        std::vector<RecordedRequest> matching;
        for (const auto& r : RequestsTo("/click/cs/qv"))
            if (r.body.find("&f1=" + event + "&") != std::string::npos) matching.push_back(r);
        return matching;
    }
    std::vector<RecordedRequest> RequestsTo(const std::string& path) const {
        std::vector<RecordedRequest> matching;
        for (const auto& r : NewRequests())
            if (r.path == path) matching.push_back(r);
        return matching;
    }

    // Starts the launcher, waits for its window and for count requests, closes it and
    // expects exit code 0 within the report wait.
    void RunUntilRequests(LauncherInstall& install, const std::wstring& arguments, size_t count) {
        ASSERT_TRUE(install.ok()) << WideToUtf8(install.error());
        LauncherProcess launcher;
        ASSERT_TRUE(launcher.Start(install, arguments));
        HWND window = launcher.WaitForWindow(kWindowClass, 20000);
        ASSERT_NE(window, nullptr);
        window_texts_ = ChildTexts(window);
        EXPECT_TRUE(WaitForRequestsSince(count, 10000));
        PostMessageW(window, WM_CLOSE, 0, 0);
        DWORD code = 99;
        ASSERT_TRUE(launcher.WaitForExit(15000, code));
        EXPECT_EQ(code, 0u);
    }
    bool WaitForRequestsSince(size_t count, DWORD timeout_ms) const {
        return WaitForRequests(baseline_ + count, timeout_ms);
    }

    static int counter_;
    std::wstring record_url_;
    std::wstring registry_key_;
    std::map<int, std::wstring> texts_;
    size_t baseline_ = 0;
    std::wstring window_texts_;
};
int LauncherStartup::counter_ = 0;

TEST_F(LauncherStartup, SendsTheLauncherReportAndStartupClickWithExactBodies) {
    LauncherInstall install(texts_);
    RunUntilRequests(install, L"", 2);

    auto reports = ReportsOf("launcher");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].method, "POST");
    // f0 is the machine identifier: 12 hexadecimal digits, "|", the volume serial.
    std::regex body("f0=[0-9A-F]{12}\\|[0-9A-F]*&f1=launcher&f2=Orvane\xE4\xBD\x93\xE9\xAA\x8C");
    EXPECT_TRUE(std::regex_match(reports[0].body, body)) << reports[0].body;

    auto clicks = RequestsTo("/launch.html");
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].method, "GET");
    EXPECT_EQ(clicks[0].body, "BtnParam=15&gametype=qv");
    EXPECT_TRUE(RequestsTo("/reg_vantor/register.jsp").empty());

    EXPECT_EQ(ReadRegistryText(registry_key_, L"InstallPath"), install.Folder() + L"\\");
}

TEST_F(LauncherStartup, ASecondCopyIsRefusedAndLeavesTheFirstAlone) {
    LauncherInstall install(texts_);
    ASSERT_TRUE(install.ok()) << WideToUtf8(install.error());
    LauncherProcess first;
    ASSERT_TRUE(first.Start(install, L""));
    HWND window = first.WaitForWindow(kWindowClass, 20000);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitForRequestsSince(2, 10000));

    LauncherProcess second;
    ASSERT_TRUE(second.Start(install, L""));
    HWND box = second.WaitForWindow(kMessageBoxClass, 20000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), L"已有一个实例在运行，退出程序");
    PressOk(box);
    DWORD code = 99;
    ASSERT_TRUE(second.WaitForExit(15000, code));
    EXPECT_EQ(code, 0u);

    // The refused copy sent nothing (the first one's failing update run may report); the
    // first one still runs.
    Sleep(500);
    EXPECT_EQ(ReportsOf("launcher").size(), 1u);
    EXPECT_EQ(RequestsTo("/launch.html").size(), 1u);
    EXPECT_TRUE(first.Running());
    EXPECT_TRUE(IsWindow(window));
    PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(first.WaitForExit(15000, code));
    EXPECT_EQ(code, 0u);
}

TEST_F(LauncherStartup, InstallCodeIsReportedOnceAndItsFileDeleted) {
    LauncherInstall install(texts_);
    ASSERT_TRUE(CreateDirectoryW(install.Path(L"VelmGame").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(install.Path(L"VelmGame\\Config").c_str(), nullptr));
    std::string ini = "[TCore.VelmEngineBase]\r\nm_strGameVersion=1.0.0.7\r\n";
    ASSERT_TRUE(WriteWholeFile(install.Path(L"VelmGame\\Config\\DefaultGame.ini"), ini.data(), ini.size()));
    std::string sn = std::string("\xFF\xFE", 2) + WideToUtf16Le(L"QV-1234-体");
    ASSERT_TRUE(WriteWholeFile(install.Path(L"sn.txt"), sn.data(), sn.size()));

    RunUntilRequests(install, L"", 3);
    auto installs = RequestsTo("/reg_vantor/register.jsp");
    ASSERT_EQ(installs.size(), 1u);
    EXPECT_EQ(installs[0].method, "POST");
    EXPECT_EQ(installs[0].body, WideToUtf8(L"para=QV-1234-体&version=qv:1.0.0.7"));
    EXPECT_FALSE(FileExists(install.Path(L"sn.txt")));
}

TEST_F(LauncherStartup, SnFilesWithoutACodeAreLeftAlone) {
    const std::string files[] = {
        std::string("\xFF\xFE", 2),             // only the byte-order mark
        std::string("\xFF\xFE\x41", 3),         // odd length, no whole character
        std::string("A\0B\0", 4),               // no byte-order mark
    };
    for (const std::string& sn : files) {
        SetUp();
        LauncherInstall install(texts_);
        ASSERT_TRUE(WriteWholeFile(install.Path(L"sn.txt"), sn.data(), sn.size()));
        RunUntilRequests(install, L"", 2);
        Sleep(300);
        EXPECT_TRUE(RequestsTo("/reg_vantor/register.jsp").empty()) << sn.size();
        EXPECT_TRUE(FileExists(install.Path(L"sn.txt"))) << sn.size();
        TearDown();
    }
}

TEST_F(LauncherStartup, TestDownloadSourceRecordsNoInstallationFolder) {
    LauncherInstall install(texts_);
    RunUntilRequests(install, L"-TESTDOWNLOADSOURCE", 2);
    EXPECT_EQ(ReadRegistryText(registry_key_, L"InstallPath"), L"");
    // The switch alone names no package: the update window finds none in the executable.
    EXPECT_NE(window_texts_.find(L"更新包损坏"), std::wstring::npos);
}

TEST_F(LauncherStartup, ValueSwitchesInAnyCaseFlagSwitchesOnlyInUpperCase) {
    LauncherInstall install(texts_);
    RunUntilRequests(install, L"-filelisturl \"http://127.0.0.1:1/Over/Ride.xml\" -showdebug", 2);
    // The update run asked the overriding address, not the built-in one.
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadWholeFile(install.Path(L"launcher.log"), bytes, 1 << 20));
    std::wstring log = Utf16LeToWide(bytes.data() + 2, bytes.size() - 2);
    EXPECT_NE(log.find(L"http://127.0.0.1:1/Over/Ride.xml"), std::wstring::npos);
    EXPECT_EQ(log.find(L"/filelist.xml"), std::wstring::npos);
    // -showdebug in lower case opens no console: the console channel writes nothing.
    EXPECT_EQ(log.find(L"CommandLine:"), std::wstring::npos);
}

TEST_F(LauncherStartup, LogIsUtf16WithPrefixAndTruncatedPerStart) {
    LauncherInstall install(texts_);
    std::string old_log = "\xFF\xFE" "o\0l\0d\0\r\0\n\0";
    ASSERT_TRUE(WriteWholeFile(install.Path(L"launcher.log"), old_log.data(), old_log.size()));
    RunUntilRequests(install, L"", 2);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadWholeFile(install.Path(L"launcher.log"), bytes, 1 << 20));
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xFE);
    std::wstring log = Utf16LeToWide(bytes.data() + 2, bytes.size() - 2);
    EXPECT_EQ(log.find(L"old"), std::wstring::npos);
    std::wregex first_line(L"^[0-9]+\\.[0-9]{3}\\|[0-9A-F]+\\|PostLauncherReport\r\n[\\s\\S]*");
    EXPECT_TRUE(std::regex_match(log, first_line)) << WideToUtf8(log.substr(0, 200));
}

TEST_F(LauncherStartup, UnreachableOrMalformedEndpointsNeverBlockStartOrExit) {
    const std::wstring refused = EnvText("VELM_REFUSE_URL");
    ASSERT_FALSE(refused.empty()) << "run through tests/servers/serve.py --refuse";
    const std::wstring bad_urls[] = {refused + L"/click/cs/qv", L"http://", L"not a url", L""};
    for (const std::wstring& url : bad_urls) {
        auto texts = texts_;
        texts[kConfigReportUrl] = url;
        texts[kConfigStartupClickUrl] = url;
        LauncherInstall install(texts);
        ASSERT_TRUE(install.ok());
        LauncherProcess launcher;
        ASSERT_TRUE(launcher.Start(install, L""));
        HWND window = launcher.WaitForWindow(kWindowClass, 20000);
        ASSERT_NE(window, nullptr) << WideToUtf8(url);
        PostMessageW(window, WM_CLOSE, 0, 0);
        DWORD code = 99;
        // The report wait is 6 s at most; a blocked exit would take far longer.
        ASSERT_TRUE(launcher.WaitForExit(12000, code)) << WideToUtf8(url);
        EXPECT_EQ(code, 0u);
    }
}

TEST_F(LauncherStartup, MissingDefaultGameIniReportsTheUnknownVersion) {
    LauncherInstall install(texts_);
    std::string sn = std::string("\xFF\xFE", 2) + WideToUtf16Le(L"CODE9");
    ASSERT_TRUE(WriteWholeFile(install.Path(L"sn.txt"), sn.data(), sn.size()));
    RunUntilRequests(install, L"", 3);
    auto installs = RequestsTo("/reg_vantor/register.jsp");
    ASSERT_EQ(installs.size(), 1u);
    EXPECT_EQ(installs[0].body, "para=CODE9&version=qv:Unknown");
}

}  // namespace
}  // namespace velm::test
