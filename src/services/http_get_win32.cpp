#include "services/http_get_win32.h"

#include <wininet.h>

#include "common/internet_handle_win32.h"
#include "common/log.h"
#include "common/sync_win32.h"
#include "common/text.h"
#include "common/url.h"

namespace velm {
namespace {

constexpr DWORD kPieceBytes = 1022;

// What WinINet's callback threads report about one request. The calling thread and the
// request handle each hold a reference: a cancelled step may still complete (and write
// into the read buffer) after the caller has returned; WinINet gives its reference back
// with the handle's closing notice, which it sends only once nothing of it is in flight.
struct GetContext {
    GetContext() { complete.Create(true, false); }
    void Release() {
        if (InterlockedDecrement(&references) == 0) delete this;
    }

    volatile LONG references = 1;
    Event complete;
    volatile LONG succeeded = 0;
    volatile LONG error = 0;
    char piece[kPieceBytes];
    INTERNET_BUFFERSA buffer{};
};

void CALLBACK OnGetStatus(HINTERNET, DWORD_PTR context_value, DWORD status, LPVOID info, DWORD) {
    auto* context = reinterpret_cast<GetContext*>(context_value);
    if (!context) return;
    if (status == INTERNET_STATUS_REQUEST_COMPLETE) {
        const auto* result = static_cast<INTERNET_ASYNC_RESULT*>(info);
        context->error = LONG(result->dwError);
        context->succeeded = result->dwResult ? 1 : 0;
        context->complete.Set();
    } else if (status == INTERNET_STATUS_HANDLE_CLOSING) {
        context->Release();
    }
}

class ContextRef {
public:
    ContextRef() : context_(new GetContext()) {}
    ~ContextRef() { context_->Release(); }
    ContextRef(const ContextRef&) = delete;
    ContextRef& operator=(const ContextRef&) = delete;
    GetContext* operator->() const { return context_; }
    GetContext* Get() const { return context_; }

private:
    GetContext* context_;
};

enum class Step { kDone, kFailed, kCancelled, kStalled };

// Ends one call that went pending: waits for its completion, the cancel event or the
// stall bound. kFailed carries the step's error in context->error.
Step AwaitCompletion(GetContext* context, const HttpGetControl& control) {
    HANDLE events[2] = {context->complete.Handle(), control.cancel};
    DWORD count = control.cancel ? 2 : 1;
    DWORD waited = WaitForMultipleObjects(count, events, FALSE, control.stall_ms);
    if (waited == WAIT_OBJECT_0) return context->succeeded ? Step::kDone : Step::kFailed;
    if (waited == WAIT_OBJECT_0 + 1) return Step::kCancelled;
    return Step::kStalled;
}

// Starts an asynchronous call (issue returns its immediate result) and waits for it.
template <typename Issue>
Step RunStep(GetContext* context, const HttpGetControl& control, Issue issue) {
    if (control.cancel && WaitForSingleObject(control.cancel, 0) == WAIT_OBJECT_0)
        return Step::kCancelled;
    context->complete.Reset();
    context->error = 0;
    if (issue()) return Step::kDone;
    DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
        context->error = LONG(error);
        return Step::kFailed;
    }
    return AwaitCompletion(context, control);
}

// A step that did not complete is logged with what ended it; false when it ended the GET.
bool StepEnded(Step step, const wchar_t* failed_line, GetContext* context) {
    LauncherLog& log = LauncherLog::Instance();
    switch (step) {
        case Step::kDone: return false;
        case Step::kFailed: log.Write(failed_line, int(context->error)); break;
        case Step::kCancelled: log.Write(L"Download cancelled.\n"); break;
        case Step::kStalled: log.Write(L"Download failed: no answer in time.\n"); break;
    }
    return true;
}

// The whole body is collected before it is decoded: a read may end in the middle of a
// character (or, for UTF-16LE, in the middle of a code unit), and decoding piece by piece
// would lose or shift it.
int FetchBody(const std::wstring& url, const HttpGetControl& control, std::string* body) {
    LauncherLog& log = LauncherLog::Instance();
    UrlEndpoint endpoint;
    if (!SplitUrl(url, &endpoint)) {
        log.Write(L"InternetOpenUrl failed with error %d.\n", int(ERROR_INTERNET_INVALID_URL));
        return 0;
    }
    // Declared before the handles so that it outlives them: closing the request handle
    // is what hands WinINet's reference back.
    ContextRef context;
    InternetHandle session(InternetOpenW(L"HarrowAgent", INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                         nullptr, INTERNET_FLAG_ASYNC));
    if (!session) {
        log.Write(L"InternetOpen failed with error %d.\n", int(GetLastError()));
        return 0;
    }
    InternetSetStatusCallbackW(session.Get(), OnGetStatus);
    InternetHandle connection(InternetConnectW(session.Get(), endpoint.host.c_str(), endpoint.port,
                                               nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    const std::wstring path = endpoint.path.empty() ? L"/" : EscapeUrlForRequest(endpoint.path);
    const wchar_t* accept[] = {L"*/*", nullptr};
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
    if (endpoint.https) flags |= INTERNET_FLAG_SECURE;
    InternetHandle request(connection ? HttpOpenRequestW(connection.Get(), L"GET", path.c_str(),
                                                         nullptr, nullptr, accept, flags,
                                                         DWORD_PTR(context.Get()))
                                      : nullptr);
    if (!request) {
        log.Write(L"InternetOpenUrl failed with error %d.\n", int(GetLastError()));
        return 0;
    }
    InterlockedIncrement(&context->references);

    HINTERNET handle = request.Get();
    Step step = RunStep(context.Get(), control,
                        [&] { return HttpSendRequestW(handle, nullptr, 0, nullptr, 0); });
    if (StepEnded(step, L"InternetOpenUrl failed with error %d.\n", context.Get())) return 0;
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!HttpQueryInfoW(handle, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                        nullptr)) {
        log.Write(L"HttpQueryInfo failed with error %d.\n", int(GetLastError()));
        return 0;
    }
    if (status != 200) {
        log.Write(L"Download failed with http error: %d.\n", int(status));
        return 0;
    }
    std::string collected;
    for (;;) {
        INTERNET_BUFFERSA& buffer = context->buffer;
        buffer = INTERNET_BUFFERSA{};
        buffer.dwStructSize = sizeof(buffer);
        buffer.lpvBuffer = context->piece;
        buffer.dwBufferLength = kPieceBytes;
        step = RunStep(context.Get(), control, [&] {
            return InternetReadFileExA(handle, &buffer, IRF_ASYNC, DWORD_PTR(context.Get()));
        });
        if (StepEnded(step, L"Download failed with error %d.\n", context.Get())) return 0;
        const DWORD read = buffer.dwBufferLength;
        if (read == 0) break;
        if (read > kPieceBytes || collected.size() + read > kHttpGetMaxBytes) {
            log.Write(L"Download failed: answer larger than %d bytes.\n", int(kHttpGetMaxBytes));
            return 0;
        }
        collected.append(context->piece, read);
    }
    *body = std::move(collected);
    return 1;
}

}  // namespace

int GetHttpBytes(const std::wstring& url, std::string* text, const HttpGetControl& control) {
    std::string body;
    if (!FetchBody(url, control, &body)) return 0;
    size_t zero = body.find('\0');
    if (zero != std::string::npos) body.resize(zero);
    *text = std::move(body);
    return 1;
}

int GetHttpText(const std::wstring& url, std::wstring* text, const HttpGetControl& control) {
    std::string body;
    if (!FetchBody(url, control, &body)) return 0;
    std::wstring decoded = Utf16LeToWide(reinterpret_cast<const uint8_t*>(body.data()), body.size());
    size_t zero = decoded.find(L'\0');
    if (zero != std::wstring::npos) decoded.resize(zero);
    *text = std::move(decoded);
    return 1;
}

}  // namespace velm
