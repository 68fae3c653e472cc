#include "services/http_get_win32.h"

#include <windows.h>
#include <wininet.h>

#include "common/log.h"
#include "common/text.h"
#include "common/internet_handle_win32.h"

namespace velm {
namespace {

// The whole body is collected before it is decoded: a read may end in the middle of a
// character (or, for UTF-16LE, in the middle of a code unit), and decoding piece by piece
// would lose or shift it.
int FetchBody(const std::wstring& url, std::string* body) {
    LauncherLog& log = LauncherLog::Instance();
    InternetHandle session(
        InternetOpenW(L"HarrowAgent", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session) {
        log.Write(L"InternetOpen failed with error %d.\n", int(GetLastError()));
        return 0;
    }
    InternetHandle request(InternetOpenUrlW(session.Get(), url.c_str(), nullptr, 0,
                                            INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
    if (!request) {
        log.Write(L"InternetOpenUrl failed with error %d.\n", int(GetLastError()));
        return 0;
    }
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!HttpQueryInfoW(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                        &size, nullptr)) {
        log.Write(L"HttpQueryInfo failed with error %d.\n", int(GetLastError()));
        return 0;
    }
    if (status != 200) {
        log.Write(L"Download failed with http error: %d.\n", int(status));
        return 0;
    }
    std::string collected;
    char piece[1022];
    for (;;) {
        DWORD read = 0;
        if (!InternetReadFile(request.Get(), piece, sizeof(piece), &read)) {
            log.Write(L"Download failed with error %d.\n", int(GetLastError()));
            return 0;
        }
        if (read == 0) break;
        if (collected.size() + read > kHttpGetMaxBytes) {
            log.Write(L"Download failed: answer larger than %d bytes.\n", int(kHttpGetMaxBytes));
            return 0;
        }
        collected.append(piece, read);
    }
    *body = std::move(collected);
    return 1;
}

}  // namespace

int GetHttpBytes(const std::wstring& url, std::string* text) {
    std::string body;
    if (!FetchBody(url, &body)) return 0;
    size_t zero = body.find('\0');
    if (zero != std::string::npos) body.resize(zero);
    *text = std::move(body);
    return 1;
}

int GetHttpText(const std::wstring& url, std::wstring* text) {
    std::string body;
    if (!FetchBody(url, &body)) return 0;
    std::wstring decoded = Utf16LeToWide(reinterpret_cast<const uint8_t*>(body.data()), body.size());
    size_t zero = decoded.find(L'\0');
    if (zero != std::wstring::npos) decoded.resize(zero);
    *text = std::move(decoded);
    return 1;
}

}  // namespace velm
