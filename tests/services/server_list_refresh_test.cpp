// The server list cycle against loopback servers: the fetch thread retries failures until
// the list arrives, decodes it with the ANSI code page (936 under wine-run), rebuilds the
// store, and fetches again after the refresh interval; stopping ends every wait at once.
#include "services/server_list_refresh_win32.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "common/file_io.h"
#include "common/text.h"
#include "services/last_selected_win32.h"
#include "services/loopback_env.h"
#include "services/refresh_fixture_win32.h"
#include "services/report_list_win32.h"

namespace velm {
namespace {

using test::Env;
using test::FaultRequestCount;
using test::LogCapture;
using test::Publish;
using test::RebuildSnapshot;
using test::RecordingView;
using test::TemporaryPath;
using test::WaitFor;

// Fields: realm, server, -, id, status, badge 1, badge 2, -, -, TEL, CNC, EDU, -, version,
// passport server. Names in code page 936.
const char kTelecom[] = "\xB5\xE7\xD0\xC5\xD2\xBB\xC7\xF8";  // 电信一区
const char kNetcom[] = "\xCD\xF8\xCD\xA8\xB6\xFE\xC7\xF8";   // 网通二区
const char kBlaze[] = "\xC1\xD2\xD1\xE6";                    // 烈焰
const char kDragon[] = "\xC7\xE0\xC1\xFA";                   // 青龙
const char kTiger[] = "\xB0\xD7\xBB\xA2";                    // 白虎

std::string Line(const std::string& realm, const std::string& server, const char* badges) {
    return realm + "," + server + ",,7,1," + badges + ",,,t,c,e,,1.0,10.0.0.1\r\n";
}

std::string FirstList() {
    return "notice\r\nSERVER_BEGIN\r\n" + Line(kTelecom, kBlaze, "0,0") +
           Line(kTelecom, kDragon, "0,0") + Line(kNetcom, kTiger, "0,0") + "SERVER_END\r\n";
}

// The second list: a new realm in front, the telecom realm's servers in the other order
// (the dragon gained a badge), the netcom realm gone.
std::string SecondList() {
    return "SERVER_BEGIN\n" + Line("Nova", "N1", "0,0") + Line(kTelecom, kBlaze, "0,0") +
           Line(kTelecom, kDragon, "1,0") + "SERVER_END\n";
}

const std::wstring kTelecomWide = L"电信一区";
const std::wstring kNetcomWide = L"网通二区";

class ServerListRefreshTest : public ::testing::Test {
protected:
    void SetUp() override {
        fault_url_ = Env(L"VELM_FAULT_URL");
        ASSERT_FALSE(fault_url_.empty()) << "run through serve.py --fault";
        // The list arrives in the players' code page; wine-run sets it.
        ASSERT_EQ(GetACP(), 936u);
        ini_path_ = TemporaryPath(L"velm-refresh") + L".ini";
        RemoveFile(ini_path_);
    }
    void TearDown() override {
        RemoveFile(ini_path_);
        WaitForReportThreads();
    }
    std::wstring fault_url_;
    std::wstring ini_path_;
};

TEST_F(ServerListRefreshTest, ServerErrorsAreRetriedUntilTheListArrivesDecodedFromCodePage936) {
    ASSERT_TRUE(Publish(L"retried.txt", FirstList()));
    LogCapture log;
    ServerListStore store(ini_path_);
    RecordingView view(store);
    // The real refresh interval: the cycle is stopped while it waits.
    TServerListRefresh refresh(store, &view,
                               fault_url_ + L"/retried.txt?status=500&fail_until=4",
                               L"http://127.0.0.1/reg", {10, 30000});
    ASSERT_TRUE(refresh.Start());
    ASSERT_TRUE(view.WaitForRebuilds(1));
    // Stopping cuts the 30 s wait short: the thread ends by itself, well within 5 s.
    EXPECT_TRUE(refresh.Stop(5000));

    EXPECT_EQ(FaultRequestCount("/retried.txt"), 4);
    std::wstring text = log.Text();
    size_t failures = 0;
    for (size_t at = text.find(L"Download failed with http error: 500."); at != std::wstring::npos;
         at = text.find(L"Download failed with http error: 500.", at + 1)) {
        ++failures;
    }
    EXPECT_EQ(failures, 3u);

    auto snapshots = view.Snapshots();
    ASSERT_EQ(snapshots.size(), 1u);
    const RebuildSnapshot& s = snapshots[0];
    EXPECT_EQ(s.realm_count, 2u);
    EXPECT_EQ(s.realm_names, (std::vector<std::wstring>{kTelecomWide, kNetcomWide}));
    EXPECT_EQ(s.server_names,
              (std::vector<std::vector<std::wstring>>{{L"烈焰", L"青龙"}, {L"白虎"}}));
    auto reader = store.Read();
    EXPECT_EQ(reader.model().realms()[0].servers[0].create_account_url, L"http://127.0.0.1/reg");
}

TEST_F(ServerListRefreshTest, EachRefreshReplacesTheModelAndReappliesTheChoiceByName) {
    ASSERT_TRUE(Publish(L"changing.txt", FirstList()));
    ServerListStore store(ini_path_);
    RecordingView view(store);
    // Between the first and the second arrival the player chooses the dragon server of the
    // telecom realm and the operator publishes the second list.
    view.OnRebuild([&](int rebuild) {
        if (rebuild != 1) return;
        store.SelectRealm(0);
        store.SelectServer(1);
        Publish(L"changing.txt", SecondList());
    });
    TServerListRefresh refresh(store, &view, fault_url_ + L"/changing.txt", L"", {10, 1});
    ASSERT_TRUE(refresh.Start());
    ASSERT_TRUE(view.WaitForRebuilds(2));
    EXPECT_TRUE(refresh.Stop(5000));

    auto snapshots = view.Snapshots();
    // No choice was remembered before the first list.
    EXPECT_EQ(snapshots[0].choice.realm_index, -1);
    EXPECT_EQ(snapshots[0].choice.server_index, -1);

    const RebuildSnapshot& second = snapshots[1];
    EXPECT_EQ(second.realm_names, (std::vector<std::wstring>{L"Nova", kTelecomWide}));
    EXPECT_EQ(second.server_names,
              (std::vector<std::vector<std::wstring>>{{L"N1"}, {L"青龙", L"烈焰"}}));
    // The same realm and server, found by name at their new positions.
    EXPECT_EQ(second.choice.realm_index, 1);
    EXPECT_EQ(second.choice.server_index, 0);
    // Ordinals continue across rebuilds instead of starting again at 0.
    EXPECT_GT(second.realm_ordinals[0], snapshots[0].realm_ordinals[1]);
    EXPECT_LT(second.realm_ordinals[0], second.realm_ordinals[1]);
}

// About 700 KB: many read pieces, with double-byte names across their boundaries.
TEST_F(ServerListRefreshTest, TenThousandServersArriveWhole) {
    std::string list = "SERVER_BEGIN\r\n";
    for (int i = 0; i < 10000; ++i) {
        std::string realm = std::string(kTelecom) + std::to_string(i % 50);
        list += Line(realm, std::string(kDragon) + std::to_string(i), i % 3 ? "0,0" : "1,0");
    }
    list += "SERVER_END\r\n";
    ASSERT_TRUE(Publish(L"large.txt", list));
    ServerListStore store(ini_path_);
    RecordingView view(store);
    TServerListRefresh refresh(store, &view, fault_url_ + L"/large.txt", L"", {10, 30000});
    ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(refresh.Start());
    ASSERT_TRUE(view.WaitForRebuilds(1));
    std::printf("10000 servers fetched, decoded and rebuilt in %llu ms\n",
                static_cast<unsigned long long>(GetTickCount64() - start));
    EXPECT_TRUE(refresh.Stop(5000));

    auto reader = store.Read();
    EXPECT_EQ(reader.model().server_count(), 10000u);
    ASSERT_EQ(reader.model().realms().size(), 50u);
    const RealmEntry& last = reader.model().realms()[49];
    EXPECT_EQ(last.name, kTelecomWide + L"49");
    ASSERT_EQ(last.servers.size(), 200u);
    // Badged servers first (every third line), each group in document order.
    EXPECT_EQ(last.servers.front().server_name, L"青龙99");
    EXPECT_EQ(last.servers.back().server_name, L"青龙9949");  // 9999 carries a badge
}

TEST_F(ServerListRefreshTest, TextsOfAtMostOneCharacterLeaveTheListsButKeepTheCycleGoing) {
    ASSERT_TRUE(Publish(L"shrinking.txt", FirstList()));
    ServerListStore store(ini_path_);
    RecordingView view(store);
    view.OnRebuild([&](int) { Publish(L"shrinking.txt", "x"); });
    TServerListRefresh refresh(store, &view, fault_url_ + L"/shrinking.txt", L"", {10, 1});
    ASSERT_TRUE(refresh.Start());
    ASSERT_TRUE(view.WaitForRebuilds(1));
    EXPECT_TRUE(WaitFor([] { return FaultRequestCount("/shrinking.txt") >= 4; }));
    EXPECT_TRUE(refresh.Stop(5000));

    EXPECT_EQ(view.Snapshots().size(), 1u);
    auto reader = store.Read();
    EXPECT_EQ(reader.model().realms().size(), 2u);
}

TEST_F(ServerListRefreshTest, WithTheServerUnreachableTheListsStayEmptyAndAttemptsGoOn) {
    const std::wstring refuse = Env(L"VELM_REFUSE_URL");
    ASSERT_FALSE(refuse.empty()) << "run through serve.py --refuse";
    LogCapture log;
    ServerListStore store(ini_path_);
    RecordingView view(store);
    TServerListRefresh refresh(store, &view, refuse + L"/loginserver.txt", L"", {10, 1});
    ASSERT_TRUE(refresh.Start());
    auto attempts = [&] {
        std::wstring text = log.Text();
        size_t count = 0;
        for (size_t at = text.find(L"InternetOpenUrl failed"); at != std::wstring::npos;
             at = text.find(L"InternetOpenUrl failed", at + 1)) {
            ++count;
        }
        return count;
    };
    EXPECT_TRUE(WaitFor([&] { return attempts() >= 3; }));
    EXPECT_TRUE(refresh.Stop(5000));
    EXPECT_TRUE(view.Snapshots().empty());
    EXPECT_TRUE(store.Read().model().realms().empty());
}

TEST_F(ServerListRefreshTest, StoppingDuringTheRetryWaitEndsTheCycleAndItCannotRestart) {
    const std::wstring refuse = Env(L"VELM_REFUSE_URL");
    LogCapture log;
    ServerListStore store(ini_path_);
    // The real 3 s retry interval: the stop must not sit it out.
    TServerListRefresh refresh(store, nullptr, refuse + L"/loginserver.txt", L"");
    ASSERT_TRUE(refresh.Start());
    EXPECT_FALSE(refresh.Start());
    // The first attempt has failed: the fetch is on its way into the wait before the next.
    EXPECT_TRUE(WaitFor([&] { return log.Text().find(L"InternetOpenUrl failed") != std::wstring::npos; }));
    EXPECT_TRUE(refresh.Stop(2000));
    EXPECT_FALSE(refresh.Start());
}

}  // namespace
}  // namespace velm
