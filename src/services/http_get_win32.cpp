#include "services/http_get_win32.h"

#include "common/inet_request_win32.h"
#include "common/log.h"
#include "common/text.h"
#include "common/url.h"

namespace velm {
namespace {

constexpr DWORD kPieceBytes = 1022;

// The session of the simple GETs; never closed (see inet_request_win32.h).
InetSession& GetSession() {
    static InetSession* session = new InetSession();
    return *session;
}

// A step that did not complete is logged with what ended it; false when it ended the GET.
bool StepEnded(InetRequest::Outcome outcome, const wchar_t* failed_line, const InetRequest& request) {
    LauncherLog& log = LauncherLog::Instance();
    switch (outcome) {
        case InetRequest::Outcome::kDone: return false;
        case InetRequest::Outcome::kFailed: log.Write(failed_line, int(request.Error())); break;
        case InetRequest::Outcome::kCancelled: log.Write(L"Download cancelled.\n"); break;
        case InetRequest::Outcome::kTimedOut: log.Write(L"Download failed: no answer in time.\n"); break;
    }
    return true;
}

// The whole body is collected before it is decoded: a read may end in the middle of a
// character (or, for UTF-16LE, in the middle of a code unit), and decoding piece by piece
// would lose or shift it.
bool FetchBody(const std::wstring& url, const HttpGetControl& control, std::string* body) {
    LauncherLog& log = LauncherLog::Instance();
    UrlEndpoint endpoint;
    if (!SplitUrl(url, &endpoint)) {
        log.Write(L"InternetOpenUrl failed with error %d.\n", int(ERROR_INTERNET_INVALID_URL));
        return false;
    }
    InetSession& session = GetSession();
    if (!session.IsOpen()) {
        log.Write(L"InternetOpen failed with error %d.\n", int(session.OpenError()));
        return false;
    }
    InetRequest request;
    const std::wstring path = endpoint.path.empty() ? L"/" : EscapeUrlForRequest(endpoint.path);
    if (!request.Open(session, endpoint, L"GET", path,
                      INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION,
                      kPieceBytes)) {
        log.Write(L"InternetOpenUrl failed with error %d.\n", int(request.Error()));
        return false;
    }
    InetWait wait;
    wait.cancel = control.cancel;
    wait.timeout_ms = control.stall_ms;
    if (StepEnded(request.Send(L"", "", wait), L"InternetOpenUrl failed with error %d.\n", request)) return false;
    const int status = request.StatusCode();
    if (status < 0) {
        log.Write(L"HttpQueryInfo failed with error %d.\n", int(GetLastError()));
        return false;
    }
    if (status != 200) {
        log.Write(L"Download failed with http error: %d.\n", status);
        return false;
    }
    std::string collected;
    for (;;) {
        size_t read = 0;
        if (StepEnded(request.Read(kPieceBytes, read, wait), L"Download failed with error %d.\n", request))
            return false;
        if (read == 0) break;
        if (read > kPieceBytes || collected.size() + read > kHttpGetMaxBytes) {
            log.Write(L"Download failed: answer larger than %d bytes.\n", int(kHttpGetMaxBytes));
            return false;
        }
        collected.append(reinterpret_cast<const char*>(request.Data()), read);
    }
    *body = std::move(collected);
    return true;
}

}  // namespace

bool GetHttpBytes(const std::wstring& url, std::string* text, const HttpGetControl& control) {
    std::string body;
    if (!FetchBody(url, control, &body)) return false;
    size_t zero = body.find('\0');
    if (zero != std::string::npos) body.resize(zero);
    *text = std::move(body);
    return true;
}

bool GetHttpText(const std::wstring& url, std::wstring* text, const HttpGetControl& control) {
    std::string body;
    if (!FetchBody(url, control, &body)) return false;
    std::wstring decoded = Utf16LeToWide(reinterpret_cast<const uint8_t*>(body.data()), body.size());
    size_t zero = decoded.find(L'\0');
    if (zero != std::wstring::npos) decoded.resize(zero);
    *text = std::move(decoded);
    return true;
}

}  // namespace velm
