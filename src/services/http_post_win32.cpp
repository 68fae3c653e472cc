#include "services/http_post_win32.h"

#include <utility>

#include "common/inet_request_win32.h"
#include "common/log.h"
#include "common/text.h"
#include "common/url.h"

namespace velm {
namespace {

// The session of the reports and start-up requests; never closed (see
// inet_request_win32.h).
InetSession& PostSession() {
    static InetSession* session = new InetSession();
    return *session;
}

}  // namespace

HTTPPost::HTTPPost(std::wstring url, std::wstring method, std::wstring body)
    : url_(std::move(url)), method_(std::move(method)), body_(std::move(body)) {}

HTTPPost::~HTTPPost() { Stop(kDefaultStopTimeoutMs); }

Thread::Step HTTPPost::Run() {
    Send();
    return Step::kDone;
}

void HTTPPost::Send() {
    UrlEndpoint endpoint;
    if (!SplitUrl(url_, &endpoint)) {
        LauncherLog::Instance().Write(L"\nskip post %ls: no usable host in %ls\n", body_.c_str(), url_.c_str());
        return;
    }
    LauncherLog::Instance().Write(L"\nstart post %ls\n", body_.c_str());
    // An answer is never read again, so nothing goes into the system's HTTP cache (each
    // request would otherwise leave a file there on the player's machine), and no cache or
    // proxy may answer in the server's place: the request itself is the report.
    DWORD flags = INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD |
                  INTERNET_FLAG_PRAGMA_NOCACHE;
    // Legacy behaviour the report hosts rely on: HTTPS requests accept certificates with a
    // wrong date, a wrong name or an unknown authority. This leaves the channel open to
    // interception; it is tolerable only because reports carry nothing secret. Never copy
    // these flags into the download or file list code.
    if (endpoint.https) flags |= INTERNET_FLAG_IGNORE_CERT_DATE_INVALID | INTERNET_FLAG_IGNORE_CERT_CN_INVALID;
    InetRequest request;
    bool sent = false;
    if (request.Open(PostSession(), endpoint, method_.c_str(), endpoint.path, flags, 0)) {
        if (endpoint.https) {
            DWORD security = 0;
            DWORD size = sizeof(security);
            InternetQueryOptionW(request.Handle(), INTERNET_OPTION_SECURITY_FLAGS, &security, &size);
            security |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
            InternetSetOptionW(request.Handle(), INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof(security));
        }
        InetWait wait;
        wait.cancel = StopEvent();
        sent = request.Send(L"Content-Type: application/x-www-form-urlencoded", WideToUtf8(body_), wait) ==
               InetRequest::Outcome::kDone;
    }
    LauncherLog::Instance().Write(L"\nend post %ls %d\n", body_.c_str(), int(sent));
}

}  // namespace velm
