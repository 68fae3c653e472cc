#include "services/http_string_thread_win32.h"

#include <climits>
#include <utility>

#include "common/log.h"
#include "services/http_get_win32.h"

namespace velm {

TGetHttpStringThread::TGetHttpStringThread(THttpStringReceiver* receiver, int32_t request_id,
                                           std::wstring url, DWORD retry_ms)
    : receiver_(receiver), request_id_(request_id), url_(std::move(url)), retry_ms_(retry_ms) {}

// Run reads the members: the thread must be gone before they are.
TGetHttpStringThread::~TGetHttpStringThread() { Stop(kDefaultStopTimeoutMs); }

Thread::Step TGetHttpStringThread::Run() {
    std::string bytes;
    HttpGetControl control;
    // A stop ends the request itself, not only the wait after it.
    control.cancel = StopEvent();
    if (!GetHttpBytes(url_, &bytes, control)) {
        LauncherLog::Instance().DebugWrite(-1, 0, L"GetHttpString Failed: Url %ls", url_.c_str());
        WaitForStop(retry_ms_);
        return Step::kAgain;
    }
    if (StopRequested()) return Step::kDone;
    receiver_->OnServerListText(request_id_, 1, AnsiToWide(bytes));
    return Step::kDone;
}

std::wstring AnsiToWide(const std::string& bytes) {
    // The simple GET bounds the body far below this; the check keeps the int casts honest.
    if (bytes.empty() || bytes.size() > size_t(INT_MAX)) return std::wstring();
    int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring text(size_t(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), int(bytes.size()), &text[0], length);
    return text;
}

}  // namespace velm
