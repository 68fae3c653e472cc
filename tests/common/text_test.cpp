#include "common/text.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

TEST(Text, Utf8RoundTripsChineseAndAstralCharacters) {
    const std::wstring samples[] = {L"", L"abc", L"Orvane体验", L"已有一个实例在运行", L"\U0001F600x"};
    for (const auto& text : samples) EXPECT_EQ(Utf8ToWide(WideToUtf8(text)), text);
    EXPECT_EQ(WideToUtf8(L"体"), "\xE4\xBD\x93");
}

TEST(Text, InvalidUtf8BecomesReplacementCharacters) {
    struct Case {
        std::string bytes;
        std::wstring text;
    } cases[] = {
        {"a\xFF" "b", L"a\uFFFDb"},
        {"\xE4\xBD", L"\uFFFD\uFFFD"},          // truncated sequence at the end
        {"\xC0\x80", L"\uFFFD\uFFFD"},          // overlong zero
        {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
    };
    for (const auto& c : cases) EXPECT_EQ(Utf8ToWide(c.bytes), c.text);
}

TEST(Text, Utf16LeRoundTripsAndDropsAnOddByte) {
    std::wstring text = L"sn体\U0001F600";
    std::string bytes = WideToUtf16Le(text);
    EXPECT_EQ(bytes.size(), 10u);
    EXPECT_EQ(Utf16LeToWide(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), text);
    bytes.push_back('\x41');
    EXPECT_EQ(Utf16LeToWide(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), text);
}

TEST(Text, AsciiCaseMappingLeavesOtherCharactersAlone) {
    EXPECT_EQ(AsciiUpper(L"-filelisturl体"), L"-FILELISTURL体");
    EXPECT_EQ(AsciiLower(L"HTTP://A"), L"http://a");
    EXPECT_TRUE(EqualsIgnoreAsciiCase(L"Https", L"hTTPS"));
    EXPECT_FALSE(EqualsIgnoreAsciiCase(L"http", L"https"));
}

TEST(Text, FormatTextGrowsForLongResults) {
    std::wstring long_text(5000, L'x');
    EXPECT_EQ(FormatText(L"%ls|%d", long_text.c_str(), 7), long_text + L"|7");
    EXPECT_EQ(FormatText(L"%.2fKB", 1.5), L"1.50KB");
}

}  // namespace
}  // namespace velm
