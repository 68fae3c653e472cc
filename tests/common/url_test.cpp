#include "common/url.h"

#include <gtest/gtest.h>

#include "common/text.h"

namespace velm {
namespace {

TEST(Url, HostAndPathAreCutAtTheFirstSlashAfterTheScheme) {
    struct Case {
        const wchar_t* url;
        const wchar_t* host;
        const wchar_t* path;
        bool https;
    } cases[] = {
        {L"http://promo.example/click/cs/qv", L"promo.example", L"/click/cs/qv", false},
        {L"HTTP://Promo.Example/A", L"Promo.Example", L"/A", false},
        {L"hTTpS://secure.example/x?y=/z", L"secure.example", L"/x?y=/z", true},
        {L"http://127.0.0.1:8080/launch.html?a=1", L"127.0.0.1:8080", L"/launch.html?a=1", false},
        {L"http://host.example", L"host.example", L"", false},
        {L"http://", L"", L"", false},
        // No known scheme: nothing is skipped.
        {L"host.example/path", L"host.example", L"/path", false},
        {L"", L"", L"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(UrlHost(c.url), c.host);
        EXPECT_EQ(UrlPath(c.url), c.path);
        EXPECT_EQ(UrlIsHttps(c.url), c.https);
    }
}

TEST(Url, SplitTakesThePortFromTheHostPartOrTheSchemeDefault) {
    struct Case {
        const wchar_t* url;
        const wchar_t* host;
        int port;
        const wchar_t* path;
    } cases[] = {
        {L"http://stats.example/launch.html", L"stats.example", 80, L"/launch.html"},
        {L"https://promo.example/click/cs/qv", L"promo.example", 443, L"/click/cs/qv"},
        {L"HTTPS://promo.example:8443/a", L"promo.example", 8443, L"/a"},
        {L"http://127.0.0.1:8080/reg_vantor/register.jsp", L"127.0.0.1", 8080,
         L"/reg_vantor/register.jsp"},
        {L"http://127.0.0.1:65535", L"127.0.0.1", 65535, L""},
        // A colon with nothing after it keeps the scheme's port.
        {L"https://host.example:/p", L"host.example", 443, L"/p"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        UrlEndpoint endpoint;
        ASSERT_EQ(SplitUrl(c.url, &endpoint), 1);
        EXPECT_EQ(endpoint.host, c.host);
        EXPECT_EQ(endpoint.port, c.port);
        EXPECT_EQ(endpoint.path, c.path);
    }
}

TEST(Url, SplitRefusesUrlsWithoutHostOrWithABadPort) {
    const wchar_t* cases[] = {
        L"",
        L"http://",
        L"https:///path",
        L"http://:8080/path",
        L"http://host:0/",
        L"http://host:65536/",
        L"http://host:4294967376/",  // wraps to 80 in 32 bits
        L"http://host:80x/",
        L"http://host:-1/",
        L"http://host:8080:1/",
        L"http://host: 80/",
    };
    for (const wchar_t* url : cases) {
        SCOPED_TRACE(url);
        UrlEndpoint endpoint;
        endpoint.port = 7;
        EXPECT_EQ(SplitUrl(url, &endpoint), 0);
        EXPECT_EQ(endpoint.port, 7);  // untouched on failure
    }
}

TEST(Url, RequestsCarryNonAsciiNamesAsUtf8EscapesAndNothingElseChanges) {
    struct Case {
        const wchar_t* url;
        const wchar_t* wire;
    } cases[] = {
        {L"http://127.0.0.1:8080/v2\\Data\\world.pak", L"http://127.0.0.1:8080/v2\\Data\\world.pak"},
        {L"http://h/v2\\\u5730\u56fe\\\u65b0\u533a.pak", L"http://h/v2\\%E5%9C%B0%E5%9B%BE\\%E6%96%B0%E5%8C%BA.pak"},
        {L"http://h/Velm Online.lnk", L"http://h/Velm%20Online.lnk"},
        // In a path, "%" and "#" belong to the file's name; the query keeps its escapes.
        {L"http://h/100% done #2.pak?a=1&b=%E5#x", L"http://h/100%25%20done%20%232.pak?a=1&b=%E5#x"},
        {L"http://h/v1/%41.bin", L"http://h/v1/%2541.bin"},
        {L"http://h/caf\u00e9", L"http://h/caf%C3%A9"},
        {L"", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.url));
        EXPECT_EQ(EscapeUrlForRequest(c.url), c.wire);
    }
}

}  // namespace
}  // namespace velm
