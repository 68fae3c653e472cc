#pragma once
// Helpers for the server list cycle tests: a view that records what each rebuild left in
// the store and can act on the fetch thread between rebuilds, and server list documents
// published under the fault server's root.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "common/sync_win32.h"
#include "services/server_list_refresh_win32.h"

namespace velm::test {

// What one rebuild left in the store, read on the fetch thread right after it.
struct RebuildSnapshot {
    size_t realm_count = 0;
    std::vector<std::wstring> realm_names;
    std::vector<int32_t> realm_ordinals;
    std::vector<std::vector<std::wstring>> server_names;
    RememberedChoice choice;
};

class RecordingView : public TServerListView {
public:
    explicit RecordingView(ServerListStore& store);

    // Runs on the fetch thread after the snapshot of rebuild number `rebuild` (1, 2, ...),
    // before the cycle waits for its next fetch.
    void OnRebuild(std::function<void(int rebuild)> action) { action_ = std::move(action); }

    void OnServerListRebuilt(size_t realm_count) override;

    // Waits (generously) until at least count rebuilds happened.
    bool WaitForRebuilds(int count);
    std::vector<RebuildSnapshot> Snapshots();

private:
    ServerListStore& store_;
    std::function<void(int)> action_;
    CriticalSection lock_;
    Event changed_;
    std::vector<RebuildSnapshot> snapshots_;
};

// The fault server's root as the Windows program sees it, with a trailing backslash.
std::wstring FaultRoot();
// Writes the bytes as root\name.
bool Publish(const std::wstring& name, const std::string& bytes);

}  // namespace velm::test
