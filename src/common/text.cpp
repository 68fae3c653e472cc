#include "common/text.h"

#include <cstdarg>
#include <cwchar>
#include <vector>

namespace velm {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(char(c));
    } else if (c < 0x800) {
        out.push_back(char(0xC0 | (c >> 6)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(char(0xE0 | (c >> 12)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (c >> 18)));
        out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    }
}

void AppendWide(std::wstring& out, char32_t c) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(wchar_t(0xD800 | (c >> 10)));
            out.push_back(wchar_t(0xDC00 | (c & 0x3FF)));
            return;
        }
    }
    out.push_back(wchar_t(c));
}

// Walks a wide string as code points, joining UTF-16 surrogate pairs.
template <typename Visit>
void ForEachCodePoint(const std::wstring& text, Visit visit) {
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = char32_t(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                text[i + 1] < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00);
                ++i;
            } else if (c >= 0xD800 && c < 0xE000) {
                c = kReplacement;
            }
        } else if (c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) {
            c = kReplacement;
        }
        visit(c);
    }
}

}  // namespace

std::string WideToUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    ForEachCodePoint(text, [&](char32_t c) { AppendUtf8(out, c); });
    return out;
}

std::wstring Utf8ToWide(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size();
    static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    for (size_t i = 0; i < n;) {
        unsigned char b = p[i];
        if (b < 0x80) {
            out.push_back(wchar_t(b));
            ++i;
            continue;
        }
        int extra = (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : 0;
        char32_t c = b & (0x3F >> extra);
        bool valid = extra > 0 && i + size_t(extra) < n;
        for (int k = 1; valid && k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) valid = false;
            else c = (c << 6) | (p[i + k] & 0x3F);
        }
        if (!valid || c < kMin[extra] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) {
            AppendWide(out, kReplacement);
            ++i;
            continue;
        }
        AppendWide(out, c);
        i += size_t(extra) + 1;
    }
    return out;
}

std::string WideToUtf16Le(const std::wstring& text) {
    std::string out;
    out.reserve(text.size() * 2);
    ForEachCodePoint(text, [&](char32_t c) {
        auto unit = [&](char32_t u) {
            out.push_back(char(u & 0xFF));
            out.push_back(char((u >> 8) & 0xFF));
        };
        if (c >= 0x10000) {
            c -= 0x10000;
            unit(0xD800 | (c >> 10));
            unit(0xDC00 | (c & 0x3FF));
        } else {
            unit(c);
        }
    });
    return out;
}

std::wstring Utf16LeToWide(const uint8_t* bytes, size_t size) {
    std::wstring out;
    size_t units = size / 2;
    out.reserve(units);
    for (size_t i = 0; i < units; ++i) {
        char32_t u = char32_t(bytes[2 * i]) | char32_t(bytes[2 * i + 1]) << 8;
        if constexpr (sizeof(wchar_t) == 2) {
            out.push_back(wchar_t(u));
        } else if (u >= 0xD800 && u < 0xDC00 && i + 1 < units) {
            char32_t low = char32_t(bytes[2 * i + 2]) | char32_t(bytes[2 * i + 3]) << 8;
            if (low >= 0xDC00 && low < 0xE000) {
                out.push_back(wchar_t(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00)));
                ++i;
            } else {
                out.push_back(wchar_t(kReplacement));
            }
        } else if (u >= 0xD800 && u < 0xE000) {
            out.push_back(wchar_t(kReplacement));
        } else {
            out.push_back(wchar_t(u));
        }
    }
    return out;
}

std::wstring AsciiUpper(std::wstring text) {
    for (wchar_t& c : text)
        if (c >= L'a' && c <= L'z') c = wchar_t(c - 32);
    return text;
}

std::wstring AsciiLower(std::wstring text) {
    for (wchar_t& c : text)
        if (c >= L'A' && c <= L'Z') c = wchar_t(c + 32);
    return text;
}

bool EqualsIgnoreAsciiCase(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() && AsciiUpper(a) == AsciiUpper(b);
}

std::wstring FormatText(const wchar_t* format, ...) {
    std::vector<wchar_t> buffer(256);
    for (;;) {
        va_list args;
        va_start(args, format);
        int n = std::vswprintf(buffer.data(), buffer.size(), format, args);
        va_end(args);
        if (n >= 0 && size_t(n) < buffer.size()) return std::wstring(buffer.data(), size_t(n));
        // vswprintf reports truncation only as failure: grow and try again, within reason.
        if (buffer.size() >= (1u << 20)) return std::wstring(buffer.data());
        buffer.resize(buffer.size() * 4);
    }
}

int32_t ParseLeadingInt(const std::wstring& text) {
    auto is_space = [](wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); };
    size_t i = 0;
    while (i < text.size() && is_space(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    const int64_t limit = negative ? int64_t(1) << 31 : (int64_t(1) << 31) - 1;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + (text[i] - L'0');
        if (value > limit) value = limit;
    }
    return int32_t(negative ? -value : value);
}

namespace {

int HexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

}  // namespace

bool ParseHexBytes(const std::wstring& text, size_t offset, uint8_t* out, size_t count) {
    if (offset > text.size() || text.size() - offset < 2 * count) return false;
    for (size_t i = 0; i < 2 * count; ++i)
        if (HexValue(text[offset + i]) < 0) return false;
    for (size_t i = 0; i < count; ++i)
        out[i] = uint8_t(HexValue(text[offset + 2 * i]) << 4 | HexValue(text[offset + 2 * i + 1]));
    return true;
}

std::wstring LowerHex(const uint8_t* bytes, size_t count) {
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text;
    text.reserve(2 * count);
    for (size_t i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

}  // namespace velm
