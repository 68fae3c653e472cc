#pragma once
// What the quick XML readers (the hash cache's and the file list's) take as plain: the
// characters of names and white space, and the references they decode. Both leave every
// other construct to the general parser, so these are deliberately narrow.
#include <cstdint>
#include <string_view>

namespace velm::plain_xml {

inline bool IsSpace(uint32_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
inline bool IsNameStart(uint32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':'; }
inline bool IsNameChar(uint32_t c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

// The longest reference read, "#x10FFFF" or "quot" and the like, without '&' and ';'.
constexpr size_t kMaxReferenceChars = 10;

// The character of a reference (between '&' and ';'): a predefined entity or a character
// reference to a printable character of the Basic Multilingual Plane. False for any other,
// which the general parser treats in ways of its own.
inline bool ReferenceCode(std::string_view token, uint32_t& code) {
    if (token == "lt") code = '<';
    else if (token == "gt") code = '>';
    else if (token == "amp") code = '&';
    else if (token == "quot") code = '"';
    else if (token == "apos") code = '\'';
    else if (token.size() > 1 && token.size() <= kMaxReferenceChars && token[0] == '#') {
        const bool hex = token[1] == 'x';
        const size_t first = hex ? 2 : 1;
        if (first == token.size()) return false;
        code = 0;
        for (size_t k = first; k < token.size(); ++k) {
            const char d = token[k];
            uint32_t digit = 0;
            if (d >= '0' && d <= '9') digit = uint32_t(d - '0');
            else if (hex && d >= 'a' && d <= 'f') digit = uint32_t(d - 'a' + 10);
            else if (hex && d >= 'A' && d <= 'F') digit = uint32_t(d - 'A' + 10);
            else return false;
            code = code * (hex ? 16 : 10) + digit;
            if (code > 0x10FFFF) return false;
        }
    } else {
        return false;
    }
    return (code >= 0x20 && code < 0xD800) || (code >= 0xE000 && code <= 0xFFFD);
}

}  // namespace velm::plain_xml
