#pragma once
// TServerListRefresh: the main window's server list cycle. It fetches the server list
// (retrying every 3 s until it arrives), rebuilds the store with it, tells the window, and
// fetches it again 30 s later, for as long as it lives.
//
// Threads: Start and Stop are called by the owner (the window thread). Everything else
// runs on the current fetch thread: the rebuild, the "server_list_downloaded" event, the
// view's notification and the wait before the next fetch. Exactly one fetch exists at a
// time, so two rebuilds never overlap.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/sync_win32.h"
#include "services/http_string_thread_win32.h"
#include "services/server_list_store_win32.h"

namespace velm {

// The window's side of a rebuild. Called on the fetch thread: the window posts itself
// whatever must touch its lists and reads the store from its own thread.
class TServerListView {
public:
    virtual void OnServerListRebuilt(size_t realm_count) = 0;

protected:
    ~TServerListView() = default;
};

struct ServerListRefreshTimes {
    DWORD retry_ms = TGetHttpStringThread::kRetryMs;
    DWORD refresh_ms = 30000;
};

class TServerListRefresh : public THttpStringReceiver {
public:
    static constexpr int32_t kServerListRequestId = 0;

    // store and view (which may be null) must outlive this object.
    TServerListRefresh(ServerListStore& store, TServerListView* view, std::wstring url,
                       std::wstring create_account_url, ServerListRefreshTimes times = {});
    ~TServerListRefresh();
    TServerListRefresh(const TServerListRefresh&) = delete;
    TServerListRefresh& operator=(const TServerListRefresh&) = delete;

    // Starts the first fetch. False when its thread cannot be started or the cycle has
    // been stopped.
    bool Start();
    // Ends the cycle: no further fetch starts, the current one ends its request and its
    // waits at once. True when every thread ended within timeout_ms; a later one is still
    // waited for (never terminated), and false is returned.
    bool Stop(DWORD timeout_ms);

    // The fetch thread's delivery: rebuilds the store from a text of more than one
    // character, then waits the refresh interval and starts the next fetch.
    void OnServerListText(int32_t request_id, int32_t success, const std::wstring& text) override;

private:
    bool StartFetchLocked();

    ServerListStore& store_;
    TServerListView* const view_;
    const std::wstring url_;
    const std::wstring create_account_url_;
    const ServerListRefreshTimes times_;
    // Set once by Stop; the fetch thread's refresh wait watches it.
    Event stopping_event_;
    CriticalSection lock_;
    bool stopping_ = false;
    std::unique_ptr<TGetHttpStringThread> current_;
    // The fetch that started current_: it ends right after doing so, and is released when
    // the next fetch is started (a thread cannot delete its own object).
    std::unique_ptr<TGetHttpStringThread> previous_;
};

}  // namespace velm
