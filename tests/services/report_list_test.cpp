// Reports and start-up requests against a recording server, a refusing port and a
// listener that never answers, all on 127.0.0.1.
// Winsock's header must come before the one <windows.h> pulls in.
#include <winsock2.h>

#include "services/report_list_win32.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <filesystem>

#include "common/text.h"
#include "services/loopback_env.h"
#include "services/machine_id_win32.h"

namespace velm {
namespace {

using test::Env;
using test::Hex;
using test::LogCapture;
using test::RecordedRequest;
using test::RecordedRequests;

const wchar_t kChannel[] = L"Orvane体验";

std::vector<RecordedRequest> RequestsWithBody(const std::wstring& body) {
    std::string hex = Hex(WideToUtf8(body));
    std::vector<RecordedRequest> found;
    for (const auto& r : RecordedRequests()) {
        if (r.body_hex == hex) found.push_back(r);
    }
    return found;
}

std::wstring ExpectedReport(const std::wstring& event, const std::wstring& extra) {
    std::wstring body = L"f0=" + MachineId() + L"&f1=" + event + L"&f2=" + kChannel;
    if (!extra.empty()) body += L"&f3=" + extra;
    return body;
}

class ReportListTest : public ::testing::Test {
protected:
    void SetUp() override {
        record_url_ = Env(L"VELM_RECORD_URL");
        ASSERT_FALSE(record_url_.empty()) << "run through serve.py --record";
        InitReports(record_url_ + L"/click/cs/qv", kChannel);
    }
    void TearDown() override {
        SetReportWaitTime(kReportWaitMs);
        WaitForReportThreads();
    }
    std::wstring record_url_;
};

TEST_F(ReportListTest, ReportsArriveWithExactRawUtf8Bodies) {
    struct Case {
        const wchar_t* event;
        const wchar_t* extra;
    } cases[] = {
        {L"launcher", L""},
        {L"start_game_failed", L"1450"},
        {L"服务器列表_下载", L"额外 a=b&c"},
    };
    for (const auto& c : cases) EXPECT_EQ(PostLauncherReport(c.event, c.extra), ReportSend::kStarted);
    EXPECT_EQ(WaitForReportThreads(), 0);

    for (const auto& c : cases) {
        std::wstring body = ExpectedReport(c.event, c.extra);
        SCOPED_TRACE(WideToUtf8(body));
        auto found = RequestsWithBody(body);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].method, "POST");
        EXPECT_EQ(found[0].path, "/click/cs/qv");
        EXPECT_EQ(found[0].content_type, "application/x-www-form-urlencoded");
    }
    // Without an extra text the pair is missing altogether, not sent empty.
    EXPECT_TRUE(RequestsWithBody(ExpectedReport(L"launcher", L"") + L"&f3=").empty());
}

TEST_F(ReportListTest, IdenticalReportsAreSentOncePerRun) {
    EXPECT_EQ(PostLauncherReport(L"launch_clicked", L""), ReportSend::kStarted);
    EXPECT_EQ(PostLauncherReport(L"launch_clicked", L""), ReportSend::kDuplicate);
    EXPECT_EQ(PostLauncherReport(L"not_select_server", L"7"), ReportSend::kStarted);
    EXPECT_EQ(PostLauncherReport(L"not_select_server", L"8"), ReportSend::kStarted);
    EXPECT_EQ(WaitForReportThreads(), 0);
    // Still a duplicate after its thread has been waited for and deleted.
    EXPECT_EQ(PostLauncherReport(L"launch_clicked", L""), ReportSend::kDuplicate);
    EXPECT_EQ(PostLauncherReport(L"not_select_server", L"7"), ReportSend::kDuplicate);
    EXPECT_EQ(WaitForReportThreads(), 0);

    EXPECT_EQ(RequestsWithBody(ExpectedReport(L"launch_clicked", L"")).size(), 1u);
    EXPECT_EQ(RequestsWithBody(ExpectedReport(L"not_select_server", L"7")).size(), 1u);
    EXPECT_EQ(RequestsWithBody(ExpectedReport(L"not_select_server", L"8")).size(), 1u);
}

TEST_F(ReportListTest, ConcurrentIdenticalReportsAreSentOnce) {
    struct Poster {
        static DWORD WINAPI Run(void*) {
            for (int i = 0; i < 20; ++i) PostLauncherReport(L"download_stucked", L"");
            return 0;
        }
    };
    HANDLE threads[8];
    for (HANDLE& thread : threads) {
        thread = CreateThread(nullptr, 0, &Poster::Run, nullptr, 0, nullptr);
    }
    WaitForMultipleObjects(DWORD(std::size(threads)), threads, TRUE, INFINITE);
    for (HANDLE thread : threads) CloseHandle(thread);
    EXPECT_EQ(WaitForReportThreads(), 0);
    EXPECT_EQ(RequestsWithBody(ExpectedReport(L"download_stucked", L"")).size(), 1u);
}

TEST_F(ReportListTest, StartupRequestsKeepMethodPortAndPathAndAreNeverDeduplicated) {
    LogCapture log;
    const std::wstring click = L"BtnParam=15&gametype=qv";
    const std::wstring install = L"para=ABCD-1234&version=qv:1.0.0.1";
    EXPECT_TRUE(PostRequest(record_url_ + L"/launch.html", L"GET", click));
    EXPECT_TRUE(PostRequest(record_url_ + L"/launch.html", L"GET", click));
    EXPECT_TRUE(PostRequest(record_url_ + L"/reg_vantor/register.jsp?src=qv", L"POST", install));
    EXPECT_EQ(WaitForReportThreads(), 0);

    auto clicks = RequestsWithBody(click);
    ASSERT_EQ(clicks.size(), 2u);
    for (const auto& r : clicks) {
        EXPECT_EQ(r.method, "GET");
        EXPECT_EQ(r.path, "/launch.html");
    }
    auto installs = RequestsWithBody(install);
    ASSERT_EQ(installs.size(), 1u);
    EXPECT_EQ(installs[0].method, "POST");
    EXPECT_EQ(installs[0].path, "/reg_vantor/register.jsp?src=qv");

    std::wstring text = log.Text();
    EXPECT_NE(text.find(L"\r\nstart post " + install + L"\r\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"\r\nend post " + install + L" 1\r\n"), std::wstring::npos);
}

// Files the system's HTTP cache holds for the probe URLs below (they are named after the
// URL's last path segment).
size_t CachedProbeFiles() {
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_INTERNET_CACHE, nullptr, 0, folder))) return 0;
    size_t count = 0;
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->path().filename().wstring().rfind(L"velmcacheprobe", 0) == 0) ++count;
    }
    return count;
}

// Reports and start-up requests are answered once and never read again: on a player's
// machine each one that the system's HTTP cache kept would be a file per run left behind.
TEST_F(ReportListTest, RequestsLeaveNothingInTheHttpCache) {
    InitReports(record_url_ + L"/velmcacheprobe-report", kChannel);
    size_t before = CachedProbeFiles();
    EXPECT_EQ(PostLauncherReport(L"cache_probe", L""), ReportSend::kStarted);
    EXPECT_TRUE(PostRequest(record_url_ + L"/velmcacheprobe-click.html", L"GET", L"BtnParam=15&gametype=cacheprobe"));
    EXPECT_TRUE(PostRequest(record_url_ + L"/velmcacheprobe-install.jsp?src=qv", L"POST",
                            L"para=CACHE-1&version=qv:1.0.0.1"));
    EXPECT_EQ(WaitForReportThreads(), 0);
    ASSERT_EQ(RequestsWithBody(L"BtnParam=15&gametype=cacheprobe").size(), 1u);
    EXPECT_EQ(CachedProbeFiles(), before);
}

TEST_F(ReportListTest, UnusableOrRefusingEndpointsEndQuicklyWithoutSending) {
    const std::wstring refuse = Env(L"VELM_REFUSE_URL");
    ASSERT_FALSE(refuse.empty()) << "run through serve.py --refuse";
    struct Case {
        std::wstring url;
        const wchar_t* log_line;
    } cases[] = {
        {L"", L"skip post"},
        {L"http://", L"skip post"},
        {L"http:///launch.html", L"skip post"},
        {L"http://127.0.0.1:99999/launch.html", L"skip post"},
        {L"http://127.0.0.1:80x/launch.html", L"skip post"},
        {refuse + L"/launch.html", L"end post"},
        // A TLS request to a server that speaks plain HTTP fails its handshake.
        {L"https" + record_url_.substr(4) + L"/click/cs/qv", L"end post"},
    };
    LogCapture log;
    SetReportWaitTime(kReportWaitAfterGameStartMs);
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_TRUE(PostRequest(cases[i].url, L"POST", FormatText(L"bad=%d", int(i))));
    }
    // Every one of them ends by itself well within the wait: none has to be stopped.
    EXPECT_EQ(WaitForReportThreads(), 0);

    std::wstring text = log.Text();
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(WideToUtf8(cases[i].url));
        std::wstring body = FormatText(L"bad=%d", int(i));
        EXPECT_TRUE(RequestsWithBody(body).empty());
        std::wstring expected = std::wstring(cases[i].log_line) + L" " + body;
        if (cases[i].log_line == std::wstring(L"end post")) expected += L" 0";
        EXPECT_NE(text.find(expected), std::wstring::npos) << WideToUtf8(text);
    }
}

// A port that accepts connections (the system completes them from the backlog) but never
// answers: the request stays in flight until the exit path stops it.
class SilentListener {
public:
    SilentListener() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        listen(socket_, 8);
        int size = sizeof(address);
        getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
    }
    ~SilentListener() {
        closesocket(socket_);
        WSACleanup();
    }
    std::wstring Url() const { return FormatText(L"http://127.0.0.1:%d", port_); }

private:
    SOCKET socket_ = INVALID_SOCKET;
    int port_ = 0;
};

TEST_F(ReportListTest, TheExitWaitIsBoundedAndCancelsAStraggler) {
    SilentListener silent;
    LogCapture log;
    SetReportWaitTime(3000);
    EXPECT_TRUE(PostRequest(silent.Url() + L"/launch.html", L"GET", L"silent=1"));
    EXPECT_TRUE(PostRequest(record_url_ + L"/launch.html", L"GET", L"answered=1"));
    EXPECT_EQ(WaitForReportThreads(), 1);
    EXPECT_EQ(RequestsWithBody(L"answered=1").size(), 1u);
    // The straggler was cancelled, not killed: its thread still wrote its last line.
    EXPECT_NE(log.Text().find(L"end post silent=1 0"), std::wstring::npos);
}

}  // namespace
}  // namespace velm
