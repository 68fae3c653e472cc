#include "common/inet_request_win32.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "common/handle_win32.h"

namespace velm {

// What WinINet reports to about one request, owned by the request and by WinINet (see the
// header). The step results are written on WinINet's threads before the completion event
// is set, and read by the owner after its wait for that event.
class InetRequestContext {
public:
    InetRequestContext(size_t read_capacity, InetStatusObserver* observer)
        : complete(CreateEventW(nullptr, TRUE, FALSE, nullptr)), buffer(read_capacity), observer_(observer) {}
    InetRequestContext(const InetRequestContext&) = delete;
    InetRequestContext& operator=(const InetRequestContext&) = delete;

    void AddRef() { references_.fetch_add(1); }
    void Release() {
        if (references_.fetch_sub(1) == 1) delete this;
    }
    // After it returns the observer is never called again.
    void Detach() {
        AcquireSRWLockExclusive(&observer_lock_);
        observer_ = nullptr;
        ReleaseSRWLockExclusive(&observer_lock_);
    }

    static void CALLBACK OnStatus(HINTERNET, DWORD_PTR value, DWORD status, LPVOID information, DWORD length) {
        auto* context = reinterpret_cast<InetRequestContext*>(value);
        // The connection handles carry no context: their notices concern no request.
        if (!context) return;
        AcquireSRWLockShared(&context->observer_lock_);
        if (context->observer_) context->observer_->OnInetStatus(status, information, length);
        ReleaseSRWLockShared(&context->observer_lock_);
        if (status == INTERNET_STATUS_REQUEST_COMPLETE) {
            const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(information);
            const bool done = result && length >= sizeof(*result) && result->dwResult;
            context->error = done ? 0 : result ? result->dwError : DWORD(ERROR_INTERNET_INTERNAL_ERROR);
            context->succeeded = done;
            SetEvent(context->complete.Get());
        } else if (status == INTERNET_STATUS_HANDLE_CLOSING) {
            // The last notice of the request handle: WinINet's share ends here.
            context->Release();
        }
    }

    UniqueHandle complete;  // manual reset, reset before each step
    std::atomic<bool> succeeded{false};
    std::atomic<DWORD> error{0};
    // What a step in flight reads and writes; it lives as long as WinINet may touch it.
    std::vector<uint8_t> buffer;
    INTERNET_BUFFERSA read{};
    std::wstring headers;
    std::string body;

private:
    ~InetRequestContext() = default;

    std::atomic<long> references_{1};
    SRWLOCK observer_lock_ = SRWLOCK_INIT;
    InetStatusObserver* observer_;
};

InetSession::InetSession()
    : handle_(InternetOpenW(L"HarrowAgent", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC)) {
    if (!handle_) {
        open_error_ = GetLastError();
        return;
    }
    InternetSetStatusCallbackW(handle_.Get(), &InetRequestContext::OnStatus);
}

bool InetRequest::Open(const InetSession& session, const UrlEndpoint& endpoint, const wchar_t* method,
                       const std::wstring& path, DWORD flags, size_t read_capacity, InetStatusObserver* observer) {
    Close();
    error_ = 0;
    if (!session.IsOpen()) {
        error_ = session.OpenError();
        return false;
    }
    connection_.Reset(InternetConnectW(session.Handle(), endpoint.host.c_str(), endpoint.port, nullptr, nullptr,
                                       INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection_) {
        error_ = GetLastError();
        return false;
    }
    context_ = new InetRequestContext(read_capacity, observer);
    if (endpoint.https) flags |= INTERNET_FLAG_SECURE;
    const wchar_t* accept[] = {L"*/*", nullptr};
    // WinINet's share is taken first: a request handle that fails after it was made still
    // sends its closing notice, which gives the share back.
    context_->AddRef();
    request_.Reset(HttpOpenRequestW(connection_.Get(), method, path.empty() ? nullptr : path.c_str(), nullptr,
                                    nullptr, accept, flags, DWORD_PTR(context_)));
    if (!request_) {
        error_ = GetLastError();
        Close();
        return false;
    }
    return true;
}

InetRequest::Outcome InetRequest::Await(const InetWait& wait) {
    if (wait.on_pending) wait.on_pending();
    HANDLE handles[2] = {context_->complete.Get(), wait.cancel};
    const DWORD waited = WaitForMultipleObjects(wait.cancel ? 2 : 1, handles, FALSE, wait.timeout_ms);
    if (waited == WAIT_OBJECT_0) {
        if (context_->succeeded) return Outcome::kDone;
        error_ = context_->error;
        return Outcome::kFailed;
    }
    if (waited == WAIT_OBJECT_0 + 1) return Outcome::kCancelled;
    error_ = ERROR_INTERNET_TIMEOUT;
    return Outcome::kTimedOut;
}

InetRequest::Outcome InetRequest::Send(const std::wstring& headers, const std::string& body, const InetWait& wait) {
    if (!request_) {
        error_ = ERROR_INVALID_HANDLE;
        return Outcome::kFailed;
    }
    if (wait.cancel && WaitForSingleObject(wait.cancel, 0) == WAIT_OBJECT_0) return Outcome::kCancelled;
    context_->headers = headers;
    context_->body = body;
    ResetEvent(context_->complete.Get());
    if (HttpSendRequestW(request_.Get(), headers.empty() ? nullptr : context_->headers.c_str(),
                         headers.empty() ? 0 : DWORD(-1), body.empty() ? nullptr : &context_->body[0],
                         DWORD(body.size())))
        return Outcome::kDone;
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
        error_ = error;
        return Outcome::kFailed;
    }
    return Await(wait);
}

InetRequest::Outcome InetRequest::Read(size_t want, size_t& got, const InetWait& wait) {
    got = 0;
    if (!request_) {
        error_ = ERROR_INVALID_HANDLE;
        return Outcome::kFailed;
    }
    if (wait.cancel && WaitForSingleObject(wait.cancel, 0) == WAIT_OBJECT_0) return Outcome::kCancelled;
    INTERNET_BUFFERSA& read = context_->read;
    read = INTERNET_BUFFERSA{};
    read.dwStructSize = sizeof(read);
    read.lpvBuffer = context_->buffer.data();
    read.dwBufferLength = DWORD(std::min(want, context_->buffer.size()));
    ResetEvent(context_->complete.Get());
    if (InternetReadFileExA(request_.Get(), &read, IRF_ASYNC, DWORD_PTR(context_))) {
        got = read.dwBufferLength;
        return Outcome::kDone;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
        error_ = error;
        return Outcome::kFailed;
    }
    const Outcome outcome = Await(wait);
    if (outcome == Outcome::kDone) got = read.dwBufferLength;
    return outcome;
}

const uint8_t* InetRequest::Data() const { return context_ ? context_->buffer.data() : nullptr; }

int InetRequest::StatusCode() const {
    DWORD code = 0;
    DWORD size = sizeof(code);
    if (!request_ ||
        !HttpQueryInfoW(request_.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, nullptr))
        return -1;
    return int(code);
}

std::wstring InetRequest::QueryText(DWORD info) const {
    wchar_t text[256];
    DWORD size = sizeof(text);
    if (!request_ || !HttpQueryInfoW(request_.Get(), info, text, &size, nullptr)) return L"";
    return std::wstring(text, size / sizeof(wchar_t));
}

bool InetRequest::QuerySystemTime(DWORD info, SYSTEMTIME& time) const {
    DWORD size = sizeof(time);
    return request_ && HttpQueryInfoW(request_.Get(), info | HTTP_QUERY_FLAG_SYSTEMTIME, &time, &size, nullptr);
}

void InetRequest::Close() {
    request_.Close();
    connection_.Close();
    if (context_) {
        context_->Detach();
        context_->Release();
        context_ = nullptr;
    }
}

}  // namespace velm
