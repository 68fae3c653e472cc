#pragma once
// ServerListStore: the main window's realm and server model together with the player's
// choice in it (the realm list's current index and the server list's selection, both
// positions in the model), behind one lock.
//
// Threads: the server list refresh rebuilds the store on its fetch thread while the window
// thread draws the lists, records the player's selection and starts the game. Every
// operation takes the lock; a Reader holds it for as long as it lives, so a reader never
// sees a half-rebuilt model. The lock is never held while waiting for another thread.
#include <cstddef>
#include <string>

#include "common/sync_win32.h"
#include "services/server_list.h"

namespace velm {

class ServerListStore {
public:
    // The choice is remembered in the INI file at ini_path (normally ".\\VelmLauncher.ini").
    explicit ServerListStore(std::wstring ini_path);
    ServerListStore(const ServerListStore&) = delete;
    ServerListStore& operator=(const ServerListStore&) = delete;

    // Saves the current choice, replaces the model with the one parsed from text and
    // reapplies the remembered choice by name. Returns the number of realms now held.
    size_t Rebuild(const std::wstring& text, const std::wstring& create_account_url);

    // The player's selection changes: a realm change leaves no server selected; -1 for
    // none. Positions outside the model are kept as given and choose nothing.
    void SelectRealm(int realm_index);
    void SelectServer(int server_index);
    // Remembers the current choice in the INI file (the window does this when it closes).
    int SaveChoice();

    // A copy of the chosen server, or an empty record when nothing usable is chosen.
    ServerRecord ChosenServer();

    class Reader {
    public:
        explicit Reader(ServerListStore& store) : store_(store), guard_(store.lock_) {}
        const ServerListModel& model() const { return store_.model_; }
        RememberedChoice choice() const { return store_.choice_; }

    private:
        ServerListStore& store_;
        ScopedLock guard_;
    };
    // Holds the lock until the reader goes: keep it short.
    Reader Read() { return Reader(*this); }

private:
    const std::wstring ini_path_;
    CriticalSection lock_;
    ServerListModel model_;
    RememberedChoice choice_;
};

}  // namespace velm
