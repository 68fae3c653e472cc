#pragma once
// HTTP over WinINet in asynchronous mode, the one way the launcher talks to its servers.
//
// An InetSession is one root handle with its status callback; each purpose (downloads,
// simple GETs, reports) keeps one for the life of the process and opens all its requests
// on it, so that WinINet reuses their connections. An InetRequest is one HTTP request.
// WinINet reports on its own threads to the request's context, which the request and
// WinINet own together: WinINet's share comes back with the request handle's closing
// notice, which it sends once nothing of the request is in flight. So a step that was
// cancelled may still complete into the context's buffer after the request's owner has
// gone, and no table has to map notices to owners that may no longer exist.
//
// Threads: a session serves any number of threads at once. A request belongs to one
// thread, its owner; every step waits for its completion, the owner's cancel event or the
// step's time-out, whichever comes first, and a request whose step did not complete is
// spent (its owner closes it and opens another).
#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <functional>
#include <string>

#include "common/internet_handle_win32.h"
#include "common/url.h"

namespace velm {

class InetSession {
public:
    // Agent "HarrowAgent", the system's proxy settings, asynchronous. Whether it opened is
    // kept: a request on a session that did not open fails with the session's error.
    InetSession();
    InetSession(const InetSession&) = delete;
    InetSession& operator=(const InetSession&) = delete;

    bool IsOpen() const { return bool(handle_); }
    DWORD OpenError() const { return open_error_; }
    HINTERNET Handle() const { return handle_.Get(); }

private:
    InternetHandle handle_;
    DWORD open_error_ = 0;
};

// What one step of a request waits for besides its own completion.
struct InetWait {
    HANDLE cancel = nullptr;      // an event (manual reset) that ends the wait, or null
    DWORD timeout_ms = INFINITE;  // the longest the step may take
    // Called when the step went pending, before the wait (the download thread logs it).
    std::function<void()> on_pending;
};

// Watches the notices of one request on WinINet's threads. Close() returns only once no
// call to it is running, and none comes afterwards.
class InetStatusObserver {
public:
    virtual void OnInetStatus(DWORD status, const void* information, DWORD length) = 0;

protected:
    ~InetStatusObserver() = default;
};

class InetRequestContext;

class InetRequest {
public:
    enum class Outcome { kDone, kFailed, kCancelled, kTimedOut };

    InetRequest() = default;
    ~InetRequest() { Close(); }
    InetRequest(const InetRequest&) = delete;
    InetRequest& operator=(const InetRequest&) = delete;

    // Opens the handles of a request to endpoint for path (already escaped as it goes on
    // the wire); nothing is sent yet. flags are the request's INTERNET_FLAG_ values
    // (INTERNET_FLAG_SECURE is added for HTTPS); read_capacity is the most one Read takes.
    // False, with the system error in Error(), when a handle cannot be opened.
    bool Open(const InetSession& session, const UrlEndpoint& endpoint, const wchar_t* method,
              const std::wstring& path, DWORD flags, size_t read_capacity,
              InetStatusObserver* observer = nullptr);
    // Sends the request with headers (CR LF separated, may be empty) and body and waits for
    // the answer's headers.
    Outcome Send(const std::wstring& headers, const std::string& body, const InetWait& wait);
    // Reads at most want bytes (up to the read capacity) of the answer's body into Data();
    // got is 0 at the end of the body.
    Outcome Read(size_t want, size_t& got, const InetWait& wait);
    const uint8_t* Data() const;

    // The system error of the last step that failed (or of Open).
    DWORD Error() const { return error_; }
    bool IsOpen() const { return bool(request_); }
    HINTERNET Handle() const { return request_.Get(); }
    // The answer's status code; -1 when there is none.
    int StatusCode() const;
    // A header of the answer as text; empty when it is missing.
    std::wstring QueryText(DWORD info) const;
    bool QuerySystemTime(DWORD info, SYSTEMTIME& time) const;

    // Closes the handles. A step still in flight completes into the context, which WinINet
    // releases with the request handle's closing notice.
    void Close();

private:
    Outcome Await(const InetWait& wait);

    InetRequestContext* context_ = nullptr;
    InternetHandle connection_;
    InternetHandle request_;
    DWORD error_ = 0;
};

}  // namespace velm
