#pragma once
// TGetHttpStringThread: one fetch of a small text document (the server list) on its own
// thread, retried until it arrives, then handed to a receiver.
//
// The body is text in the system's ANSI code page and reaches the receiver as wide text.
// The owner starts the thread with Start and may end it at any time with Stop: a stop
// request ends the request in flight and the wait between attempts at once, and a body
// that arrives after the request is not delivered.
#include <cstdint>
#include <string>

#include "common/thread_win32.h"

namespace velm {

// Gets the fetched text, on the fetch thread.
class THttpStringReceiver {
public:
    // success is always 1: a failed fetch is retried, never delivered.
    virtual void OnServerListText(int32_t request_id, int32_t success, const std::wstring& text) = 0;

protected:
    ~THttpStringReceiver() = default;
};

class TGetHttpStringThread : public Thread {
public:
    static constexpr DWORD kRetryMs = 3000;

    // The receiver must outlive the thread. request_id is handed back unchanged.
    TGetHttpStringThread(THttpStringReceiver* receiver, int32_t request_id, std::wstring url,
                         DWORD retry_ms = kRetryMs);
    ~TGetHttpStringThread() override;

protected:
    // One attempt: done after delivering, again after a failure and the wait before the
    // next attempt.
    Step Run() override;

private:
    THttpStringReceiver* const receiver_;
    const int32_t request_id_;
    const std::wstring url_;
    const DWORD retry_ms_;
};

// Text in the system's ANSI code page as wide text; bytes that do not form a character
// of that page become the system's replacement character.
std::wstring AnsiToWide(const std::string& bytes);

}  // namespace velm
