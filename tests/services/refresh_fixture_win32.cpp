#include "services/refresh_fixture_win32.h"

#include "common/file_io.h"
#include "services/loopback_env.h"

namespace velm::test {
namespace {

constexpr ULONGLONG kPatienceMs = 60000;

}  // namespace

RecordingView::RecordingView(ServerListStore& store) : store_(store) {
    lock_.Init();
    changed_.Create(false, false);
}

void RecordingView::OnServerListRebuilt(size_t realm_count) {
    RebuildSnapshot snapshot;
    snapshot.realm_count = realm_count;
    {
        auto reader = store_.Read();
        for (const RealmEntry& realm : reader.model().realms()) {
            snapshot.realm_names.push_back(realm.name);
            snapshot.realm_ordinals.push_back(realm.ordinal);
            std::vector<std::wstring> servers;
            for (const ServerRecord& server : realm.servers) servers.push_back(server.server_name);
            snapshot.server_names.push_back(servers);
        }
        snapshot.choice = reader.choice();
    }
    int rebuild;
    {
        ScopedLock guard(lock_);
        snapshots_.push_back(snapshot);
        rebuild = int(snapshots_.size());
    }
    if (action_) action_(rebuild);
    changed_.Set();
}

bool RecordingView::WaitForRebuilds(int count) {
    ULONGLONG deadline = GetTickCount64() + kPatienceMs;
    for (;;) {
        {
            ScopedLock guard(lock_);
            if (int(snapshots_.size()) >= count) return true;
        }
        ULONGLONG now = GetTickCount64();
        if (now >= deadline) return false;
        changed_.Wait(DWORD(deadline - now));
    }
}

std::vector<RebuildSnapshot> RecordingView::Snapshots() {
    ScopedLock guard(lock_);
    return snapshots_;
}

std::wstring FaultRoot() {
    return WinePath(Env(L"VELM_BINARY_DIR")) + L"\\tests\\services\\fault_root\\";
}

bool Publish(const std::wstring& name, const std::string& bytes) {
    return WriteWholeFile(FaultRoot() + name, bytes.data(), bytes.size());
}

}  // namespace velm::test
