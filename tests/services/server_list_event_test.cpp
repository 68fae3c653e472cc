// The "server_list_downloaded" event of the server list cycle, checked with the recording
// server. A program of its own: identical reports go out once per process, so no other
// test may have sent it first.
#include "services/server_list_refresh_win32.h"

#include <gtest/gtest.h>

#include "common/file_io.h"
#include "common/text.h"
#include "services/loopback_env.h"
#include "services/machine_id_win32.h"
#include "services/refresh_fixture_win32.h"
#include "services/report_list_win32.h"

namespace velm {
namespace {

using test::Env;
using test::Hex;
using test::Publish;
using test::RecordedRequests;
using test::RecordingView;
using test::TemporaryPath;

size_t ListReportsRecorded() {
    std::string hex = Hex(WideToUtf8(L"f0=" + MachineId() + L"&f1=server_list_downloaded&f2=qv"));
    size_t count = 0;
    for (const auto& request : RecordedRequests()) {
        if (request.body_hex == hex && request.path == "/click/cs/qv") ++count;
    }
    return count;
}

TEST(ServerListEventTest, SentOnceAfterTheFirstListWithARealm) {
    const std::wstring fault_url = Env(L"VELM_FAULT_URL");
    const std::wstring record_url = Env(L"VELM_RECORD_URL");
    ASSERT_FALSE(fault_url.empty() || record_url.empty()) << "run through serve.py --fault --record";
    InitReports(record_url + L"/click/cs/qv", L"qv");
    const std::wstring ini = TemporaryPath(L"velm-event") + L".ini";

    // First a document without a server, then one with a realm (and the same again).
    const std::string empty_list = "SERVER_BEGIN\nnot a server line\nSERVER_END\n";
    const std::string list = "SERVER_BEGIN\nR,S,,7,1,0,0,,,a,b,c,,1.0,10.0.0.1\nSERVER_END\n";
    ASSERT_TRUE(Publish(L"event.txt", empty_list));
    ServerListStore store(ini);
    RecordingView view(store);
    size_t after_empty_list = 99;
    size_t after_first_realm = 99;
    view.OnRebuild([&](int rebuild) {
        // Reports of earlier rebuilds have been posted by the time the view hears of the
        // next one; waiting for their threads makes them visible in the record.
        WaitForReportThreads();
        if (rebuild == 2) after_empty_list = ListReportsRecorded();
        if (rebuild == 3) after_first_realm = ListReportsRecorded();
        if (rebuild == 1) Publish(L"event.txt", list);
    });
    TServerListRefresh refresh(store, &view, fault_url + L"/event.txt", L"", {10, 1});
    ASSERT_TRUE(refresh.Start());
    ASSERT_TRUE(view.WaitForRebuilds(4));
    EXPECT_TRUE(refresh.Stop(5000));
    WaitForReportThreads();
    RemoveFile(ini);

    EXPECT_EQ(after_empty_list, 0u);
    EXPECT_EQ(after_first_realm, 1u);
    EXPECT_EQ(ListReportsRecorded(), 1u);
}

}  // namespace
}  // namespace velm
