#pragma once
// What an update run needs from the process that starts it: the mode, the addresses and
// the texts it shows. The executable fills it from its switches and resources once at
// start-up and hands it to the window that owns the run, so the engine reads no process
// state of its own.
#include <cstdint>
#include <string>

namespace velm {

struct UpdateTexts {
    std::wstring connecting;             // before the file list is asked for
    std::wstring downloading_file_list;  // while the file list downloads
    std::wstring checking_local_files;   // while the entries are compared with the files
    std::wstring launcher_restart;       // the player is told the launcher restarts
};

struct UpdateOptions {
    // Jobs read from the update package appended to the executable instead of the network.
    bool package_mode = false;
    // The launcher may replace itself when the list names a newer one.
    bool self_update = true;
    // The file list's address (its ".hash" companion is beside it).
    std::wstring file_list_url;
    // Every URL root of the list has url_root_original replaced by url_root_replacement
    // (a mirror given on the command line); an empty original changes nothing.
    std::wstring url_root_original;
    std::wstring url_root_replacement;
    // The operator's release key ("P256:" and 128 hexadecimal digits). Empty: releases
    // are not verified; anything else that is not a key fails every run.
    std::wstring release_key;
    // The release channel this launcher follows; a release signed for another one is
    // refused. Empty means "live".
    std::wstring release_channel;
    // The installation's registry key (below HKEY_LOCAL_MACHINE), where a copy of the
    // accepted release record is kept; empty: the record lives only in its file.
    std::wstring install_registry_key;
    // The player's cap on the download rate of all jobs together; 0 for none.
    int64_t max_bytes_per_second = 0;
    UpdateTexts texts;
};

}  // namespace velm
