#include "services/server_list_refresh_win32.h"

#include <utility>

#include "common/log.h"
#include "services/report_list_win32.h"

namespace velm {
namespace {

// True when the fetch has ended by itself or within the time-out, false when it ended
// later (it is waited for: a fetch is never killed, and a stop ends its request at once).
bool EndFetch(TGetHttpStringThread* fetch, DWORD timeout_ms) {
    if (!fetch) return true;
    fetch->RequestStop();
    if (fetch->Join(timeout_ms)) return true;
    fetch->Stop(0);
    return false;
}

}  // namespace

TServerListRefresh::TServerListRefresh(ServerListStore& store, TServerListView* view,
                                       std::wstring url, std::wstring create_account_url,
                                       ServerListRefreshTimes times)
    : store_(store),
      view_(view),
      url_(std::move(url)),
      create_account_url_(std::move(create_account_url)),
      times_(times) {
    lock_.Init();
    stopping_event_.Create(true, false);
}

TServerListRefresh::~TServerListRefresh() { Stop(Thread::kDefaultStopTimeoutMs); }

bool TServerListRefresh::Start() {
    ScopedLock guard(lock_);
    // Without its event the refresh wait could not wait at all.
    if (stopping_ || current_ || !stopping_event_.Handle()) return false;
    return StartFetchLocked();
}

bool TServerListRefresh::StartFetchLocked() {
    auto fetch = std::make_unique<TGetHttpStringThread>(this, kServerListRequestId, url_,
                                                        times_.retry_ms);
    if (!fetch->Start()) {
        LauncherLog::Instance().Write(L"Server list: cannot start the fetch thread, error %d\n",
                                      int(GetLastError()));
        return false;
    }
    previous_ = std::move(current_);
    current_ = std::move(fetch);
    return true;
}

bool TServerListRefresh::Stop(DWORD timeout_ms) {
    stopping_event_.Set();
    std::unique_ptr<TGetHttpStringThread> current;
    std::unique_ptr<TGetHttpStringThread> previous;
    {
        ScopedLock guard(lock_);
        stopping_ = true;
        current = std::move(current_);
        previous = std::move(previous_);
    }
    // Outside the lock: a fetch thread that is finishing its delivery may still take it.
    const bool ended = EndFetch(current.get(), timeout_ms);
    return EndFetch(previous.get(), timeout_ms) && ended;
}

void TServerListRefresh::OnServerListText(int32_t request_id, int32_t success,
                                          const std::wstring& text) {
    if (request_id != kServerListRequestId) return;
    if (success && text.size() > 1) {
        size_t realms = store_.Rebuild(text, create_account_url_);
        if (view_) view_->OnServerListRebuilt(realms);
        // Identical reports go out once per run, so only the first list with a realm
        // reaches the statistics service.
        if (realms > 0) PostLauncherReport(L"server_list_downloaded", L"");
    }
    if (stopping_event_.Wait(times_.refresh_ms)) return;
    std::unique_ptr<TGetHttpStringThread> finished;
    {
        ScopedLock guard(lock_);
        if (stopping_) return;
        // The fetch before this one has ended: it started this thread as its last act.
        finished = std::move(previous_);
        StartFetchLocked();
    }
}

}  // namespace velm
