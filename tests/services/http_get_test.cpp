// The simple GET against nginx on 127.0.0.1, whose root the test fills itself.
#include "services/http_get_win32.h"

#include <gtest/gtest.h>

#include <thread>

#include "common/file_io.h"
#include "common/sync_win32.h"
#include "common/text.h"
#include "services/loopback_env.h"

namespace velm {
namespace {

using test::Env;
using test::FaultRequestCount;
using test::LogCapture;
using test::WaitFor;

class HttpGetTest : public ::testing::Test {
protected:
    void SetUp() override {
        nginx_url_ = Env(L"VELM_NGINX_URL");
        ASSERT_FALSE(nginx_url_.empty()) << "run through serve.py --nginx";
        root_ = test::WinePath(Env(L"VELM_BINARY_DIR")) + L"\\tests\\services\\http_root\\";
    }
    // Publishes the bytes under the name and returns their URL.
    std::wstring Publish(const std::wstring& name, const std::string& bytes) {
        EXPECT_TRUE(WriteWholeFile(root_ + name, bytes.data(), bytes.size()));
        return nginx_url_ + L"/" + name;
    }
    std::wstring nginx_url_;
    std::wstring root_;
};

// A text longer than one read piece, with double-byte characters falling across the
// piece boundaries.
std::string Gbk(size_t size) {
    std::string text;
    while (text.size() < size) text += "\xB7\xFE\xCE\xF1\xC6\xF7 1|";  // "服务器" in code page 936
    text.resize(size);
    return text;
}

TEST_F(HttpGetTest, BytesArriveExactlyUpToAZeroByte) {
    struct Case {
        const wchar_t* name;
        std::string published;
        std::string expected;
    } cases[] = {
        {L"empty.txt", "", ""},
        {L"short.txt", "realm|1", "realm|1"},
        {L"long.txt", Gbk(5001), Gbk(5001)},
        {L"zero.txt", Gbk(3000) + std::string(1, '\0') + "tail", Gbk(3000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.name));
        std::string text = "stale";
        ASSERT_TRUE(GetHttpBytes(Publish(c.name, c.published), &text));
        EXPECT_EQ(text, c.expected);
    }
}

TEST_F(HttpGetTest, TextIsDecodedAsUtf16LeAcrossReadPieces) {
    std::wstring hash = L"0123456789ABCDEF0123456789ABCDEF";
    std::wstring long_text;
    while (long_text.size() < 2100) long_text += L"体验 md5 ";
    struct Case {
        const wchar_t* name;
        std::string published;
        std::wstring expected;
    } cases[] = {
        {L"filelist.xml.hash", WideToUtf16Le(hash), hash},
        {L"long.hash", WideToUtf16Le(long_text), long_text},
        // An odd trailing byte is no character.
        {L"odd.hash", WideToUtf16Le(long_text) + "A", long_text},
        {L"zero.hash", WideToUtf16Le(hash) + std::string(2, '\0') + WideToUtf16Le(L"junk"), hash},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.name));
        std::wstring text = L"stale";
        ASSERT_TRUE(GetHttpText(Publish(c.name, c.published), &text));
        EXPECT_EQ(text, c.expected);
    }
}

TEST_F(HttpGetTest, FailuresReturnZeroLeaveTheOutputAndLogTheCause) {
    const std::wstring refuse = Env(L"VELM_REFUSE_URL");
    ASSERT_FALSE(refuse.empty()) << "run through serve.py --refuse";
    std::string huge(kHttpGetMaxBytes + 1, 'x');
    struct Case {
        std::wstring url;
        const wchar_t* log_line;
    } cases[] = {
        {nginx_url_ + L"/missing.txt", L"Download failed with http error: 404.\r\n"},
        {refuse + L"/loginserver.txt", L"InternetOpenUrl failed with error "},
        {L"not a url", L"InternetOpenUrl failed with error "},
        {Publish(L"huge.txt", huge), L"Download failed: answer larger than "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.url));
        LogCapture log;
        std::string bytes = "stale";
        std::wstring text = L"stale";
        EXPECT_FALSE(GetHttpBytes(c.url, &bytes));
        EXPECT_FALSE(GetHttpText(c.url, &text));
        EXPECT_EQ(bytes, "stale");
        EXPECT_EQ(text, L"stale");
        EXPECT_NE(log.Text().find(c.log_line), std::wstring::npos) << WideToUtf8(log.Text());
    }
    RemoveFile(root_ + L"huge.txt");
}

// A server that accepts the request and never answers: the GET ends at its stall bound,
// or at once when another thread sets its cancel event, and the output stays untouched.
TEST_F(HttpGetTest, ASilentServerEndsAtTheStallBoundOrAtOnceOnCancel) {
    const std::wstring fault = Env(L"VELM_FAULT_URL");
    ASSERT_FALSE(fault.empty()) << "run through serve.py --fault";
    {
        LogCapture log;
        HttpGetControl control;
        control.stall_ms = 300;
        std::string bytes = "stale";
        EXPECT_FALSE(GetHttpBytes(fault + L"/silent.txt?hang=30", &bytes, control));
        EXPECT_EQ(bytes, "stale");
        EXPECT_NE(log.Text().find(L"Download failed: no answer in time."), std::wstring::npos)
            << WideToUtf8(log.Text());
    }
    {
        LogCapture log;
        Event cancel;
        ASSERT_TRUE(cancel.Create(true, false));
        HttpGetControl control;
        control.cancel = cancel.Handle();
        control.stall_ms = INFINITE;
        // Cancelled only once the server holds the request, so it is the wait for the
        // answer that the cancel has to end.
        std::thread canceller([&] {
            WaitFor([] { return FaultRequestCount("/silent.txt") >= 2; });
            cancel.Set();
        });
        std::wstring text = L"stale";
        EXPECT_FALSE(GetHttpText(fault + L"/silent.txt?hang=30", &text, control));
        canceller.join();
        EXPECT_EQ(text, L"stale");
        EXPECT_NE(log.Text().find(L"Download cancelled."), std::wstring::npos) << WideToUtf8(log.Text());
        // A cancel set before the call ends it before any request goes out.
        EXPECT_FALSE(GetHttpText(fault + L"/silent.txt?hang=30", &text, control));
        EXPECT_EQ(FaultRequestCount("/silent.txt"), 2);
    }
}

}  // namespace
}  // namespace velm
