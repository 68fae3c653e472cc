#include "services/game_command_line.h"

#include <gtest/gtest.h>

#include <string>

#include "common/text.h"

namespace velm {
namespace {

const wchar_t kFixed[] = L"-SEEKFREELOADING -nohomedir";

ServerRecord FullRecord() {
    ServerRecord r;
    r.realm_name = L"电信一区";
    r.server_name = L"紫禁之巅";
    r.tel_proxy = L"10.1.0.1:8000";
    r.cnc_proxy = L"10.2.0.1:8000";
    r.edu_proxy = L"10.3.0.1:8000";
    r.server_id = L"7";
    r.passport_ip = L"10.0.0.1";
    r.create_account_url = L"http://127.0.0.1/reg?a=1&b=2";
    return r;
}

TEST(GameCommandLine, ComposesThePiecesInOrderWithTheirQuotes) {
    struct Case {
        const char* name;
        void (*change)(ServerRecord&);
        std::wstring expected;
    } cases[] = {
        {"every field", [](ServerRecord&) {},
         L"-SEEKFREELOADING -nohomedir -TELProxy=\"10.1.0.1:8000\" -CNCProxy=\"10.2.0.1:8000\" "
         L"-EDUProxy=\"10.3.0.1:8000\" -TServerName=\"紫禁之巅\" -TSERVERID=\"7\" "
         L"-PASSPORTSVRIP=\"10.0.0.1\" -CreateAccountURL=\"http://127.0.0.1/reg?a=1&b=2\""},
        {"empty proxies keep their pieces, empty id and url go",
         [](ServerRecord& r) {
             r.tel_proxy.clear();
             r.cnc_proxy.clear();
             r.edu_proxy.clear();
             r.server_id.clear();
             r.create_account_url.clear();
         },
         L"-SEEKFREELOADING -nohomedir -TELProxy=\"\" -CNCProxy=\"\" -EDUProxy=\"\" "
         L"-TServerName=\"紫禁之巅\" -PASSPORTSVRIP=\"10.0.0.1\""},
        {"ip map between passport and url",
         [](ServerRecord& r) { r.ip_map = L"1.2.3.4=5.6.7.8"; },
         L"-SEEKFREELOADING -nohomedir -TELProxy=\"10.1.0.1:8000\" -CNCProxy=\"10.2.0.1:8000\" "
         L"-EDUProxy=\"10.3.0.1:8000\" -TServerName=\"紫禁之巅\" -TSERVERID=\"7\" "
         L"-PASSPORTSVRIP=\"10.0.0.1\" -IpMap=\"1.2.3.4=5.6.7.8\" "
         L"-CreateAccountURL=\"http://127.0.0.1/reg?a=1&b=2\""},
        {"values go in unchanged",
         [](ServerRecord& r) {
             r.server_name = L" a b\\ ";
             r.server_id.clear();
             r.create_account_url.clear();
         },
         L"-SEEKFREELOADING -nohomedir -TELProxy=\"10.1.0.1:8000\" -CNCProxy=\"10.2.0.1:8000\" "
         L"-EDUProxy=\"10.3.0.1:8000\" -TServerName=\" a b\\ \" -PASSPORTSVRIP=\"10.0.0.1\""},
    };
    for (const Case& c : cases) {
        ServerRecord record = FullRecord();
        c.change(record);
        std::wstring line = L"stale";
        EXPECT_EQ(ComposeGameCommandLine(kFixed, record, line), ComposeResult::kOk) << c.name;
        EXPECT_EQ(WideToUtf8(line), WideToUtf8(c.expected)) << c.name;
    }
}

TEST(GameCommandLine, ALineThatDoesNotFitIsRefusedNotCut) {
    ServerRecord record = FullRecord();
    record.create_account_url.clear();
    std::wstring line;
    ASSERT_EQ(ComposeGameCommandLine(kFixed, record, line), ComposeResult::kOk);
    const size_t room = kGameCommandLineMaxChars - line.size();

    struct Case {
        size_t extra;
        ComposeResult result;
    } cases[] = {{room, ComposeResult::kOk}, {room + 1, ComposeResult::kTooLong},
                 {5000, ComposeResult::kTooLong}};
    for (const Case& c : cases) {
        ServerRecord longer = record;
        longer.server_name += std::wstring(c.extra, L'x');
        line = L"stale";
        EXPECT_EQ(ComposeGameCommandLine(kFixed, longer, line), c.result) << c.extra;
        if (c.result == ComposeResult::kOk) {
            EXPECT_EQ(line.size(), kGameCommandLineMaxChars);
        } else {
            EXPECT_TRUE(line.empty());
        }
    }
    EXPECT_EQ(ComposeGameCommandLine(std::wstring(1024, L'-'), record, line),
              ComposeResult::kTooLong);
    EXPECT_EQ(ComposeFailureCode(ComposeResult::kTooLong), L"122");
}

TEST(GameCommandLine, AValueThatWouldLeaveItsQuotesIsRefused) {
    struct Case {
        const char* name;
        void (*change)(ServerRecord&);
    } cases[] = {
        {"quote in a proxy", [](ServerRecord& r) { r.cnc_proxy = L"x\" -Evil=\"1"; }},
        {"quote in the name", [](ServerRecord& r) { r.server_name = L"\""; }},
        {"NUL in the passport address",
         [](ServerRecord& r) { r.passport_ip = std::wstring(L"10.0.0.1\0x", 10); }},
        {"quote in the url", [](ServerRecord& r) { r.create_account_url += L"\""; }},
        // The closing quote would become a literal one and the next value's text separate
        // switches: -TELProxy="1.2.3.4\" -CNCProxy=" -InjectedSwitch=C:\evil ".
        {"backslash ending a proxy",
         [](ServerRecord& r) {
             r.tel_proxy = L"1.2.3.4\\";
             r.cnc_proxy = L" -InjectedSwitch=C:\\evil ";
         }},
        {"two backslashes ending the name", [](ServerRecord& r) { r.server_name = L"a\\\\"; }},
        {"backslash ending the url", [](ServerRecord& r) { r.create_account_url += L"\\"; }},
        {"a lone backslash as the id", [](ServerRecord& r) { r.server_id = L"\\"; }},
    };
    for (const Case& c : cases) {
        ServerRecord record = FullRecord();
        c.change(record);
        std::wstring line = L"stale";
        EXPECT_EQ(ComposeGameCommandLine(kFixed, record, line), ComposeResult::kQuoteInValue)
            << c.name;
        EXPECT_TRUE(line.empty()) << c.name;
    }
    // The built-in arguments are the program's own and go in verbatim, quotes and all.
    std::wstring line;
    EXPECT_EQ(ComposeGameCommandLine(L"-A=\"b c\"", FullRecord(), line), ComposeResult::kOk);
    EXPECT_EQ(line.rfind(L"-A=\"b c\" -TELProxy=", 0), 0u);
    EXPECT_EQ(ComposeFailureCode(ComposeResult::kQuoteInValue), L"87");
}

TEST(GameCommandLine, ChoiceChecks) {
    struct Case {
        const char* name;
        void (*change)(ServerRecord&);
        bool force;
        bool refused;
        int string_id;
        const wchar_t* event;
    } cases[] = {
        {"no server chosen", [](ServerRecord& r) { r = ServerRecord(); }, false, 1,
         kStringSelectServer, kEventNotSelectServer},
        {"no server chosen, forced", [](ServerRecord& r) { r = ServerRecord(); }, true, 1,
         kStringSelectServer, kEventNotSelectServer},
        {"no passport address", [](ServerRecord& r) { r.passport_ip.clear(); }, false, 1,
         kStringSelectServer, kEventNotSelectServer},
        {"unavailable", [](ServerRecord& r) { r.state_code = 10; }, false, 1,
         kStringServerUnavailable, nullptr},
        {"unavailable, forced", [](ServerRecord& r) { r.state_code = 10; }, true, 0, 0, nullptr},
        {"disabled", [](ServerRecord& r) { r.enabled = 0; }, false, 1, kStringServerUnavailable,
         nullptr},
        {"disabled, forced", [](ServerRecord& r) { r.enabled = 0; }, true, 0, 0, nullptr},
        {"normal", [](ServerRecord&) {}, false, 0, 0, nullptr},
    };
    for (const Case& c : cases) {
        ServerRecord record = FullRecord();
        c.change(record);
        LaunchCheck check = CheckLaunchChoice(record, c.force);
        EXPECT_EQ(check.refused, c.refused) << c.name;
        EXPECT_EQ(check.string_id, c.string_id) << c.name;
        if (c.event == nullptr) {
            EXPECT_EQ(check.event, nullptr) << c.name;
        } else {
            ASSERT_NE(check.event, nullptr) << c.name;
            EXPECT_EQ(std::wstring(check.event), std::wstring(c.event)) << c.name;
        }
    }
    EXPECT_EQ(std::wstring(kEventNotSelectServer), L"not_select_server");
}

TEST(GameCommandLine, ForceSwitchAnywhereInTheProcessCommandLine) {
    struct Case {
        std::wstring line;
        bool force;
    } cases[] = {
        {L"\"C:\\Game\\VelmLauncher.exe\" -FORCELAUNCH", true},
        {L"VelmLauncher.exe -SHOWDEBUG -FORCELAUNCH -X", true},
        {L"VelmLauncher.exe x-FORCELAUNCHy", true},
        {L"VelmLauncher.exe -forcelaunch", false},
        {L"VelmLauncher.exe -FORCE LAUNCH", false},
        {L"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(HasForceLaunchSwitch(c.line), c.force) << WideToUtf8(c.line);
}

TEST(GameCommandLine, UnavailableServerFromTheListStartsOnlyWhenForced) {
    ServerListModel model;
    model.ParseServerList(L"SERVER_BEGIN\n"
                          L"R,up,,1,1,0,0,,,t,c,e,,1.0,10.0.0.1\n"
                          L"R,down,,2,4,0,0,,,t,c,e,,1.0,10.0.0.2\n"
                          L"R,nopassport,,3,1,0,0,,,t,c,e,,1.0,,\n",
                          L"");
    struct Case {
        long realm, server;
        bool force;
        bool refused;
        int string_id;
    } cases[] = {
        {0, 0, false, 0, 0},
        {0, 1, false, 1, kStringServerUnavailable},
        {0, 1, true, 0, 0},
        {0, 2, true, 1, kStringSelectServer},
        {0, 3, false, 1, kStringSelectServer},
        {-1, 0, false, 1, kStringSelectServer},
        {1, 0, false, 1, kStringSelectServer},
        {0, -1, false, 1, kStringSelectServer},
    };
    for (const Case& c : cases) {
        ServerRecord chosen = ChosenServer(model, c.realm, c.server);
        LaunchCheck check = CheckLaunchChoice(chosen, c.force);
        EXPECT_EQ(check.refused, c.refused) << c.realm << "/" << c.server;
        EXPECT_EQ(check.string_id, c.string_id) << c.realm << "/" << c.server;
    }
    std::wstring line;
    ASSERT_EQ(ComposeGameCommandLine(L"-SEEKFREELOADING", ChosenServer(model, 0, 1), line),
              ComposeResult::kOk);
    EXPECT_EQ(WideToUtf8(line),
              "-SEEKFREELOADING -TELProxy=\"t\" -CNCProxy=\"c\" -EDUProxy=\"e\" "
              "-TServerName=\"down\" -TSERVERID=\"2\" -PASSPORTSVRIP=\"10.0.0.2\"");
}

}  // namespace
}  // namespace velm
