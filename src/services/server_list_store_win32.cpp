#include "services/server_list_store_win32.h"

#include <utility>

#include "services/game_command_line.h"
#include "services/last_selected_win32.h"

namespace velm {

ServerListStore::ServerListStore(std::wstring ini_path) : ini_path_(std::move(ini_path)) {
    lock_.Init();
}

size_t ServerListStore::Rebuild(const std::wstring& text, const std::wstring& create_account_url) {
    // Parsing a long list takes a while: do it before taking the lock, so that the
    // window's drawing waits only for the exchange.
    ServerListModel rebuilt;
    rebuilt.ParseServerList(text, create_account_url);
    ScopedLock guard(lock_);
    SaveLastSelected(ini_path_, model_, choice_);
    std::swap(model_, rebuilt);
    choice_ = RestoreLastSelected(ini_path_, model_);
    return model_.realms().size();
}

void ServerListStore::SelectRealm(int realm_index) {
    ScopedLock guard(lock_);
    choice_.realm_index = realm_index;
    choice_.server_index = -1;
}

void ServerListStore::SelectServer(int server_index) {
    ScopedLock guard(lock_);
    choice_.server_index = server_index;
}

int ServerListStore::SaveChoice() {
    ScopedLock guard(lock_);
    return SaveLastSelected(ini_path_, model_, choice_);
}

ServerRecord ServerListStore::ChosenServer() {
    ScopedLock guard(lock_);
    return velm::ChosenServer(model_, choice_.realm_index, choice_.server_index);
}

}  // namespace velm
