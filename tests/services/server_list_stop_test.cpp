// Closing the window while the server list fetch waits on a server that accepted the
// request and never answers: the stop ends the request itself, the fetch thread ends
// within the stop's bound (it is never killed inside WinINet), and the report of the
// close still goes out afterwards. A program of its own: its report goes out once.
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
using test::FaultRequestCount;
using test::Hex;
using test::LogCapture;
using test::RecordedRequests;
using test::TemporaryPath;
using test::WaitFor;

TEST(ServerListStopTest, AStalledFetchEndsPromptlyAndTheCloseReportStillGoesOut) {
    const std::wstring fault_url = Env(L"VELM_FAULT_URL");
    const std::wstring record_url = Env(L"VELM_RECORD_URL");
    ASSERT_FALSE(fault_url.empty() || record_url.empty()) << "run through serve.py --fault --record";
    InitReports(record_url + L"/click/cs/qv", L"qv");
    const std::wstring ini = TemporaryPath(L"velm-stop") + L".ini";

    LogCapture log;
    ServerListStore store(ini);
    TServerListRefresh refresh(store, nullptr, fault_url + L"/silent.txt?hang=60", L"");
    ASSERT_TRUE(refresh.Start());
    // Once the server holds the request, the fetch is waiting for the answer inside it.
    ASSERT_TRUE(WaitFor([] { return FaultRequestCount("/silent.txt") >= 1; }));
    // Within the bound the window gives it: the fetch ended by itself, not late.
    EXPECT_TRUE(refresh.Stop(3000));
    EXPECT_EQ(log.Text().find(L"did not end within"), std::wstring::npos) << WideToUtf8(log.Text());
    EXPECT_NE(log.Text().find(L"Download cancelled."), std::wstring::npos) << WideToUtf8(log.Text());

    ASSERT_EQ(PostLauncherReport(L"user_close_while_updating", L""), ReportSend::kStarted);
    EXPECT_EQ(WaitForReportThreads(), 0);
    std::string hex = Hex(WideToUtf8(L"f0=" + MachineId() + L"&f1=user_close_while_updating&f2=qv"));
    size_t sent = 0;
    for (const auto& request : RecordedRequests()) {
        if (request.path == "/click/cs/qv" && request.body_hex == hex) ++sent;
    }
    EXPECT_EQ(sent, 1u);
    RemoveFile(ini);
}

}  // namespace
}  // namespace velm
