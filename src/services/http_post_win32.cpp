#include "services/http_post_win32.h"

#include <wininet.h>

#include <utility>

#include "common/log.h"
#include "common/text.h"
#include "common/url.h"
#include "common/sync_win32.h"
#include "common/internet_handle_win32.h"

namespace velm {
namespace {

// What WinINet's callback threads report about one request. The request thread and the
// request handle each hold a reference; WinINet gives its reference back with the
// handle's closing notification, which may come after the thread (and the HTTPPost) are
// gone when a stop cancelled a request still in flight.
struct RequestContext {
    RequestContext() { complete.Create(true, false); }
    void Release() {
        if (InterlockedDecrement(&references) == 0) delete this;
    }

    volatile LONG references = 1;
    Event complete;
    volatile LONG succeeded = 0;
    // The body must stay valid until the request completes, which a cancelled request
    // does only after its thread has gone.
    std::string content;
};

void CALLBACK OnRequestStatus(HINTERNET, DWORD_PTR context_value, DWORD status, LPVOID info,
                              DWORD) {
    auto* context = reinterpret_cast<RequestContext*>(context_value);
    if (!context) return;
    if (status == INTERNET_STATUS_REQUEST_COMPLETE) {
        context->succeeded = static_cast<INTERNET_ASYNC_RESULT*>(info)->dwResult ? 1 : 0;
        context->complete.Set();
    } else if (status == INTERNET_STATUS_HANDLE_CLOSING) {
        context->Release();
    }
}

// Holds the thread's reference to a request context.
class ContextRef {
public:
    ContextRef() : context_(new RequestContext()) {}
    ~ContextRef() { context_->Release(); }
    ContextRef(const ContextRef&) = delete;
    ContextRef& operator=(const ContextRef&) = delete;
    RequestContext* operator->() const { return context_; }
    RequestContext* Get() const { return context_; }

private:
    RequestContext* context_;
};

}  // namespace

HTTPPost::HTTPPost(std::wstring url, std::wstring method, std::wstring body)
    : url_(std::move(url)), method_(std::move(method)), body_(std::move(body)) {}

HTTPPost::~HTTPPost() { Stop(kDefaultStopTimeoutMs); }

int HTTPPost::Run(uintptr_t) {
    send_result_ = Send();
    return 0;
}

int HTTPPost::Send() {
    UrlEndpoint endpoint;
    if (!SplitUrl(url_, &endpoint)) {
        LauncherLog::Instance().Write(L"\nskip post %ls: no usable host in %ls\n", body_.c_str(),
                                      url_.c_str());
        return 0;
    }
    LauncherLog::Instance().Write(L"\nstart post %ls\n", body_.c_str());

    int sent = 0;
    ContextRef context;
    // Declared before the handles so that it outlives them: closing the request handle
    // is what hands WinINet's reference back.
    InternetHandle session(InternetOpenW(L"HarrowAgent", INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                         nullptr, INTERNET_FLAG_ASYNC));
    if (session) InternetSetStatusCallbackW(session.Get(), OnRequestStatus);
    InternetHandle connection(session ? InternetConnectW(session.Get(), endpoint.host.c_str(),
                                                         endpoint.port, nullptr, nullptr,
                                                         INTERNET_SERVICE_HTTP, 0, 0)
                                      : nullptr);
    const wchar_t* accept[] = {L"*/*", nullptr};
    // An answer is never read again, so nothing goes into the system's HTTP cache (each
    // request would otherwise leave a file there on the player's machine), and no cache or
    // proxy may answer in the server's place: the request itself is the report.
    DWORD flags = INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_CACHE_WRITE |
                  INTERNET_FLAG_RELOAD | INTERNET_FLAG_PRAGMA_NOCACHE;
    // Legacy behaviour the report hosts rely on: HTTPS requests accept certificates with a
    // wrong date, a wrong name or an unknown authority. This leaves the channel open to
    // interception; it is tolerable only because reports carry nothing secret. Never copy
    // these flags into the download or file list code.
    if (endpoint.https) {
        flags |= INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID |
                 INTERNET_FLAG_IGNORE_CERT_CN_INVALID;
    }
    InternetHandle request(connection ? HttpOpenRequestW(connection.Get(), method_.c_str(),
                                                         endpoint.path.empty()
                                                             ? nullptr
                                                             : endpoint.path.c_str(),
                                                         nullptr, nullptr, accept, flags,
                                                         DWORD_PTR(context.Get()))
                                      : nullptr);
    if (request) {
        InterlockedIncrement(&context->references);
        if (endpoint.https) {
            DWORD security = 0;
            DWORD size = sizeof(security);
            InternetQueryOptionW(request.Get(), INTERNET_OPTION_SECURITY_FLAGS, &security, &size);
            security |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
            InternetSetOptionW(request.Get(), INTERNET_OPTION_SECURITY_FLAGS, &security,
                               sizeof(security));
        }
        std::string& content = context->content;
        content = WideToUtf8(body_);
        static const wchar_t kHeader[] = L"Content-Type: application/x-www-form-urlencoded";
        if (HttpSendRequestW(request.Get(), kHeader, DWORD(-1),
                             content.empty() ? nullptr : &content[0], DWORD(content.size()))) {
            sent = 1;
        } else if (GetLastError() == ERROR_IO_PENDING) {
            HANDLE events[2] = {context->complete.Handle(), StopEvent()};
            if (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0) {
                sent = context->succeeded;
            }
        }
    }
    LauncherLog::Instance().Write(L"\nend post %ls %d\n", body_.c_str(), sent);
    return sent;
}

}  // namespace velm
