#include "common/log.h"

#include <gtest/gtest.h>

#include <regex>
#include <vector>

#include "common/file_io.h"
#include "common/text.h"

namespace velm {
namespace {

std::wstring ReadLog(const std::wstring& path, std::vector<uint8_t>& bytes) {
    EXPECT_TRUE(ReadWholeFile(path, bytes, 1 << 20));
    if (bytes.size() < 2) return L"";
    return Utf16LeToWide(bytes.data() + 2, bytes.size() - 2);
}

TEST(LauncherLog, WritesUtf16WithBomPrefixAndCrLf) {
    const std::wstring path = L"log_test_a.log";
    LauncherLog& log = LauncherLog::Instance();
    log.ReopenForTest(path);
    log.Write(L"hello %ls %d\n", L"体验", 42);
    log.DebugWrite(-1, 0, L"console only\n");  // no console: nothing anywhere
    log.ReopenForTest(L"log_test_unused.log");

    std::vector<uint8_t> bytes;
    std::wstring text = ReadLog(path, bytes);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xFE);
    std::wregex line(L"^[0-9]+\\.[0-9]{3}\\|[0-9A-F]+\\|hello 体验 42\r\n$");
    EXPECT_TRUE(std::regex_match(text, line)) << WideToUtf8(text);
    RemoveFile(path);
    RemoveFile(L"log_test_unused.log");
}

TEST(LauncherLog, CutsMessagesLongerThanTheLineBuffer) {
    const std::wstring path = L"log_test_b.log";
    LauncherLog& log = LauncherLog::Instance();
    log.ReopenForTest(path);
    std::wstring huge(10000, L'y');
    log.Write(L"%ls\n", huge.c_str());
    log.ReopenForTest(L"log_test_unused.log");

    std::vector<uint8_t> bytes;
    std::wstring text = ReadLog(path, bytes);
    EXPECT_LT(text.size(), LauncherLog::kLineChars);
    EXPECT_GT(text.size(), LauncherLog::kLineChars - 40);
    EXPECT_EQ(text.find(L'\n'), std::wstring::npos);
    RemoveFile(path);
    RemoveFile(L"log_test_unused.log");
}

}  // namespace
}  // namespace velm
