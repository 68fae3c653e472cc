#include "common/url.h"

#include "common/text.h"

namespace velm {
namespace {

bool StartsWithIgnoreCase(const std::wstring& text, const std::wstring& prefix) {
    return text.size() >= prefix.size() &&
           EqualsIgnoreAsciiCase(text.substr(0, prefix.size()), prefix);
}

// Length of the scheme prefix, "HTTP://" or "HTTPS://", or 0 when there is none.
size_t SchemeLength(const std::wstring& url) {
    if (StartsWithIgnoreCase(url, L"HTTP://")) return 7;
    if (StartsWithIgnoreCase(url, L"HTTPS://")) return 8;
    return 0;
}

}  // namespace

bool UrlIsHttps(const std::wstring& url) { return StartsWithIgnoreCase(url, L"HTTPS://"); }

std::wstring UrlHost(const std::wstring& url) {
    size_t start = SchemeLength(url);
    size_t slash = url.find(L'/', start);
    return url.substr(start, slash == std::wstring::npos ? std::wstring::npos : slash - start);
}

std::wstring UrlPath(const std::wstring& url) {
    size_t slash = url.find(L'/', SchemeLength(url));
    return slash == std::wstring::npos ? std::wstring() : url.substr(slash);
}

int SplitUrl(const std::wstring& url, UrlEndpoint* endpoint) {
    UrlEndpoint result;
    result.https = UrlIsHttps(url);
    result.port = result.https ? 443 : 80;
    result.path = UrlPath(url);
    std::wstring host = UrlHost(url);
    size_t colon = host.find(L':');
    if (colon != std::wstring::npos) {
        std::wstring digits = host.substr(colon + 1);
        host.resize(colon);
        // "host:" has no second piece and keeps the default port.
        if (!digits.empty()) {
            if (digits.size() > 5) return 0;
            uint32_t port = 0;
            for (wchar_t c : digits) {
                if (c < L'0' || c > L'9') return 0;
                port = port * 10 + uint32_t(c - L'0');
            }
            if (port == 0 || port > 65535) return 0;
            result.port = uint16_t(port);
        }
    }
    if (host.empty()) return 0;
    result.host = host;
    *endpoint = result;
    return 1;
}

std::wstring EscapeUrlForRequest(const std::wstring& url) {
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    std::wstring out;
    out.reserve(url.size());
    bool in_query = false;
    for (unsigned char b : WideToUtf8(url)) {
        if (b == '?') in_query = true;
        const bool name_char = !in_query && (b == '%' || b == '#');
        if (b > ' ' && b < 0x7F && !name_char) {
            out += wchar_t(b);
        } else {
            out += L'%';
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
    }
    return out;
}

}  // namespace velm
