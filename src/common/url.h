#pragma once
// The few URL operations the request code needs. URLs come from the built-in configuration
// texts and the command line and are taken apart without any validation beyond what the
// request needs: scheme, host, port and the path with its query.
#include <cstdint>
#include <string>

namespace velm {

// True when the URL begins with "HTTPS://" in any letter case.
bool UrlIsHttps(const std::wstring& url);

// The host part: after a leading "HTTP://" or "HTTPS://" (any letter case), everything up
// to the next "/" or the end. It may still carry ":port".
std::wstring UrlHost(const std::wstring& url);

// From the first "/" after the scheme to the end, query included; empty when there is none.
std::wstring UrlPath(const std::wstring& url);

// Where a request goes.
struct UrlEndpoint {
    std::wstring host;
    uint16_t port = 0;
    std::wstring path;
    bool https = false;
};

// 1 with the endpoint filled in; 0 when the URL names no host or its port is not a
// decimal number from 1 to 65535 (a request must not go to a port the URL did not mean).
// Without a port the scheme's default applies: 443 for HTTPS, otherwise 80.
int SplitUrl(const std::wstring& url, UrlEndpoint* endpoint);

// The URL as it may go on the wire: every character outside printable ASCII (file names
// of the client in Chinese, spaces) as UTF-8 bytes in "%XX" escapes, as browsers send
// them and as servers map them back to their UTF-8 file names. Before the query, "%" and
// "#" are escaped too: there they are characters of a file name (left alone, the server
// would read "%" as an escape and the client would cut the request at "#"). The query,
// from the first "?", is the configuration's own and keeps its "%" escapes. "\" is left
// as it is. Unpaired surrogates become U+FFFD.
std::wstring EscapeUrlForRequest(const std::wstring& url);

}  // namespace velm
