// The game start with a stand-in game client under Wine: the exact command line and
// folder the client gets, the refusals and failures the player sees, and the events the
// recording server receives.
#include "services/game_launch_win32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "common/file_io.h"
#include "common/text.h"
#include "services/last_selected_win32.h"
#include "services/loopback_env.h"
#include "services/refresh_fixture_win32.h"
#include "services/report_list_win32.h"

namespace velm {
namespace {

using test::Env;
using test::RecordedRequests;
using test::TemporaryPath;

const wchar_t kFixedArguments[] =
    L"-SEEKFREELOADING -EnableReadEncrypted -EnableReadEncryptedXML  -BinaryXML";
const wchar_t kGameExecutable[] = L".\\Binaries\\Win32\\Velm.exe";
const wchar_t kLauncherCommandLine[] = L"Z:\\games\\VelmLauncher.exe";
const wchar_t kCreateAccountUrl[] = L"http://127.0.0.1/reg?src=qv";

// Fields: realm, server, -, id, status, badge 1, badge 2, -, -, TEL, CNC, EDU, -, version,
// passport server. Ranks are all 0, so servers keep these positions.
const wchar_t kList[] =
    L"SERVER_BEGIN\r\n"
    L"电信一区,烈焰,,7,1,0,0,,,tel1,cnc1,edu1,,1.0,10.0.0.1\r\n"
    L"电信一区,青龙,,,2,0,0,,,,,,,1.0,10.0.0.2\r\n"
    L"电信一区,维护中,,9,4,0,0,,,a,b,c,,1.0,10.0.0.3\r\n"
    L"电信一区,无通行证,,9,1,0,0,,,a,b,c,,1.0,,extra\r\n"
    L"SERVER_END\r\n";

struct ReportEvent {
    std::wstring name;
    std::wstring extra;
    bool operator<(const ReportEvent& o) const {
        return std::tie(name, extra) < std::tie(o.name, o.extra);
    }
    bool operator==(const ReportEvent& o) const { return name == o.name && extra == o.extra; }
};

// The statistics events among the recorded requests from index `from` on.
std::vector<ReportEvent> RecordedEvents(size_t from) {
    std::vector<ReportEvent> events;
    auto requests = RecordedRequests();
    for (size_t i = from; i < requests.size(); ++i) {
        std::string bytes;
        const std::string& hex = requests[i].body_hex;
        for (size_t h = 0; h + 1 < hex.size(); h += 2) {
            bytes += char(std::stoi(hex.substr(h, 2), nullptr, 16));
        }
        std::wstring body = Utf8ToWide(bytes);
        size_t f1 = body.find(L"&f1=");
        size_t f2 = body.find(L"&f2=");
        if (f1 == std::wstring::npos || f2 == std::wstring::npos) continue;
        ReportEvent event{body.substr(f1 + 4, f2 - f1 - 4), L""};
        size_t f3 = body.find(L"&f3=");
        if (f3 != std::wstring::npos) event.extra = body.substr(f3 + 4);
        events.push_back(event);
    }
    return events;
}

class FakeWindow : public TGameLaunchWindow {
public:
    void ShowChoiceHints() override { ++hints; }
    void ShowLaunchMessage(int string_id, const wchar_t* caption) override {
        messages.push_back({string_id, caption ? caption : L"(default)"});
    }
    void CloseAfterLaunch() override { ++closes; }

    int hints = 0;
    int closes = 0;
    std::vector<std::pair<int, std::wstring>> messages;
};

class GameLaunchTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::wstring record_url = Env(L"VELM_RECORD_URL");
        ASSERT_FALSE(record_url.empty()) << "run through serve.py --record";
        InitReports(record_url + L"/click/cs/qv", L"qv");
        install_ = TemporaryPath(L"velm-launch");
        ASSERT_TRUE(CreateDirectoryW(install_.c_str(), nullptr) ||
                    GetLastError() == ERROR_ALREADY_EXISTS);
        CreateDirectoryW((install_ + L"\\Binaries").c_str(), nullptr);
        CreateDirectoryW((install_ + L"\\Binaries\\Win32").c_str(), nullptr);
        std::wstring stand_in = test::WinePath(Utf8ToWide(VELM_STAND_IN_GAME));
        ASSERT_TRUE(CopyFileW(stand_in.c_str(), (install_ + L"\\Binaries\\Win32\\Velm.exe").c_str(),
                              FALSE));
        GetCurrentDirectoryW(MAX_PATH, previous_folder_);
        ASSERT_TRUE(SetCurrentDirectoryW(install_.c_str()));
        wchar_t current[MAX_PATH + 1] = {};
        GetCurrentDirectoryW(MAX_PATH, current);
        install_ = current;
    }
    void TearDown() override {
        SetCurrentDirectoryW(previous_folder_);
        RemoveFile(install_ + L"\\Binaries\\Win32\\Velm.exe");
        RemoveFile(install_ + L"\\VelmLauncher.ini");
        RemoveFile(install_ + L"\\stand_in_game.out");
        RemoveDirectoryW((install_ + L"\\Binaries\\Win32").c_str());
        RemoveDirectoryW((install_ + L"\\Binaries").c_str());
        RemoveDirectoryW(install_.c_str());
        SetReportWaitTime(kReportWaitMs);
        WaitForReportThreads();
    }

    std::wstring install_;
    wchar_t previous_folder_[MAX_PATH + 1] = {};
};

// What the stand-in recorded: its command line and its current folder.
bool ReadStandInRecord(std::wstring& command_line, std::wstring& folder) {
    if (!test::WaitFor([] { return FileExists(L"stand_in_game.out"); })) return false;
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(L"stand_in_game.out", bytes, 1 << 20)) return false;
    RemoveFile(L"stand_in_game.out");
    std::wstring text = Utf16LeToWide(bytes.data(), bytes.size());
    size_t feed = text.find(L'\n');
    if (feed == std::wstring::npos) return false;
    command_line = text.substr(0, feed);
    folder = text.substr(feed + 1);
    return true;
}

TEST_F(GameLaunchTest, ChoicesAreCheckedAndTheClientGetsTheComposedLineInTheInstallFolder) {
    const std::wstring fixed = kFixedArguments;
    const std::wstring account = std::wstring(L" -CreateAccountURL=\"") + kCreateAccountUrl + L"\"";
    const std::wstring force = std::wstring(kLauncherCommandLine) + L" -FORCELAUNCH";
    struct Case {
        const char* what;
        int realm;
        int server;
        std::wstring process_command_line;
        LaunchOutcome result;
        int message;                 // string id shown, 0 for none
        std::set<ReportEvent> events;      // besides "launch_clicked"
        std::wstring client_line;    // empty: no client starts
    } cases[] = {
        {"no realm chosen", -1, -1, kLauncherCommandLine, LaunchOutcome::kRefused, 162, {{L"not_select_server", L""}}, L""},
        {"realm without a server", 0, -1, kLauncherCommandLine, LaunchOutcome::kRefused, 162, {}, L""},
        {"server without passport server", 0, 3, kLauncherCommandLine, LaunchOutcome::kRefused, 162, {}, L""},
        {"unavailable server", 0, 2, kLauncherCommandLine, LaunchOutcome::kRefused, 163, {}, L""},
        {"the switch is case-sensitive", 0, 2, std::wstring(kLauncherCommandLine) + L" -forcelaunch",
         LaunchOutcome::kRefused, 163, {}, L""},
        {"every piece", 0, 0, kLauncherCommandLine, LaunchOutcome::kStarted, 0, {{L"start_game", L""}},
         fixed + L" -TELProxy=\"tel1\" -CNCProxy=\"cnc1\" -EDUProxy=\"edu1\" -TServerName=\"烈焰\""
                 L" -TSERVERID=\"7\" -PASSPORTSVRIP=\"10.0.0.1\"" + account},
        {"no server id and empty proxies", 0, 1, kLauncherCommandLine, LaunchOutcome::kStarted, 0, {},
         fixed + L" -TELProxy=\"\" -CNCProxy=\"\" -EDUProxy=\"\" -TServerName=\"青龙\""
                 L" -PASSPORTSVRIP=\"10.0.0.2\"" + account},
        {"unavailable server forced", 0, 2, force, LaunchOutcome::kStarted, 0, {},
         fixed + L" -TELProxy=\"a\" -CNCProxy=\"b\" -EDUProxy=\"c\" -TServerName=\"维护中\""
                 L" -TSERVERID=\"9\" -PASSPORTSVRIP=\"10.0.0.3\"" + account},
    };
    ServerListStore store(kLauncherIniPath);
    store.Rebuild(kList, kCreateAccountUrl);
    std::set<ReportEvent> seen;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        store.SelectRealm(c.realm);
        store.SelectServer(c.server);
        SetReportWaitTime(kReportWaitMs);
        size_t recorded = RecordedRequests().size();
        FakeWindow window;
        GameLaunchInputs inputs{kGameExecutable, kFixedArguments, c.process_command_line};
        EXPECT_EQ(LaunchGame(store, inputs, window), c.result);
        EXPECT_EQ(window.hints, 1);
        if (c.message) {
            ASSERT_EQ(window.messages.size(), 1u);
            EXPECT_EQ(window.messages[0].first, c.message);
            EXPECT_EQ(window.messages[0].second, L"(default)");
        } else {
            EXPECT_TRUE(window.messages.empty());
        }
        EXPECT_EQ(window.closes, c.result == LaunchOutcome::kStarted ? 1 : 0);
        // Only a start that passed the checks gives the reports the longer exit wait.
        EXPECT_EQ(ReportWaitTime(), c.result == LaunchOutcome::kRefused ? kReportWaitMs : kReportWaitAfterGameStartMs);
        if (!c.client_line.empty()) {
            std::wstring line;
            std::wstring folder;
            ASSERT_TRUE(ReadStandInRecord(line, folder));
            EXPECT_EQ(line, c.client_line);
            EXPECT_EQ(folder, install_);
        }
        WaitForReportThreads();
        // Identical reports leave once per run: the first attempt sends "launch_clicked".
        std::set<ReportEvent> expected = c.events;
        expected.insert({L"launch_clicked", L""});
        std::set<ReportEvent> fresh;
        for (const ReportEvent& e : expected) {
            if (seen.insert(e).second) fresh.insert(e);
        }
        auto events = RecordedEvents(recorded);
        EXPECT_EQ(std::set<ReportEvent>(events.begin(), events.end()), fresh);
        EXPECT_EQ(events.size(), fresh.size());
    }
    EXPECT_FALSE(FileExists(L"stand_in_game.out"));
}

TEST_F(GameLaunchTest, ALineTooLongOrAMissingClientFailsWithTheErrorAndNoClient) {
    ServerListStore store(kLauncherIniPath);
    store.Rebuild(kList, kCreateAccountUrl);
    store.SelectRealm(0);
    store.SelectServer(0);
    struct Case {
        const char* what;
        std::wstring executable;
        std::wstring fixed_arguments;
        const wchar_t* error;  // the system error in "start_game_failed", null: any non-zero
    } cases[] = {
        // 1023 characters would fit; the pieces of the server make it longer.
        {"line over 1023 characters", kGameExecutable, std::wstring(900, L'x'), L"122"},
        {"client file missing", L".\\Binaries\\Win32\\Missing.exe", kFixedArguments, L"2"},
        {"no executable configured", L"", kFixedArguments, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::LogCapture log;
        size_t recorded = RecordedRequests().size();
        FakeWindow window;
        GameLaunchInputs inputs{c.executable, c.fixed_arguments, kLauncherCommandLine};
        EXPECT_EQ(LaunchGame(store, inputs, window), LaunchOutcome::kFailed);
        ASSERT_EQ(window.messages.size(), 1u);
        EXPECT_EQ(window.messages[0].first, 153);
        EXPECT_EQ(window.messages[0].second, L"Error");
        EXPECT_EQ(window.closes, 0);
        EXPECT_EQ(ReportWaitTime(), kReportWaitAfterGameStartMs);
        WaitForReportThreads();
        std::wstring text = log.Text();
        EXPECT_NE(text.find(L"LaunchGame: "), std::wstring::npos) << WideToUtf8(text);
        std::wstring error = c.error ? c.error : L"";
        if (!c.error) {
            size_t at = text.find(L"LaunchGame: cannot start , error ");
            ASSERT_NE(at, std::wstring::npos) << WideToUtf8(text);
            error = std::to_wstring(ParseLeadingInt(text.substr(at + 33)));
            EXPECT_NE(error, L"0");
        }
        // Identical reports leave once per run, so an earlier case may have sent it.
        auto events = RecordedEvents(0);
        EXPECT_NE(std::find(events.begin(), events.end(), ReportEvent{L"start_game_failed", error}),
                  events.end());
        EXPECT_TRUE(RecordedEvents(recorded).size() <= 1u);
    }
}

}  // namespace
}  // namespace velm
