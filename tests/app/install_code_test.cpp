#include "app/install_code.h"

#include <gtest/gtest.h>

#include <string>

namespace velm {
namespace {

std::string Utf16File(const std::u16string& text, bool bom = true) {
    std::string bytes = bom ? std::string("\xFF\xFE", 2) : std::string();
    for (char16_t c : text) {
        bytes.push_back(char(c & 0xFF));
        bytes.push_back(char(c >> 8));
    }
    return bytes;
}

TEST(InstallCode, ReadsTheCodeAfterTheByteOrderMark) {
    struct Case {
        std::string bytes;
        std::wstring code;
    } cases[] = {
        {Utf16File(u"AB12-CD34"), L"AB12-CD34"},
        {Utf16File(u""), L""},                                       // only the mark
        {Utf16File(std::u16string(u"\0XYZ", 4)), L""},               // zero right after the mark
        {Utf16File(std::u16string(u"AB\0CD", 5)), L"AB"},            // ends at the first zero
        {Utf16File(u"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123"), L"ABCDEFGHIJKLMNOPQRSTUVW"},  // 23 at most
        {Utf16File(u"AB12", false), L""},                            // no mark: not an install code
        {Utf16File(u"AB12") + "\x41", L"AB12"},                      // odd length
        {std::string("\xFF"), L""},
        {std::string(), L""},
    };
    for (const auto& c : cases) {
        const auto* data = reinterpret_cast<const uint8_t*>(c.bytes.data());
        EXPECT_EQ(InstallCodeFromBytes(data, c.bytes.size()), c.code) << c.bytes.size();
    }
}

}  // namespace
}  // namespace velm
