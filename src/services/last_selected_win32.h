#pragma once
// The player's last realm and server choice, remembered between runs in the launcher's
// INI file through the system's private-profile functions:
//   [Realm]  LastSelected=<text of the chosen realm list item, empty for none>
//   [Server] LastSelected=<name of the chosen server>
// Callers serialise access to one file (the server list store does, under its lock).
#include <string>

#include "services/server_list.h"

namespace velm {

// Relative to the current folder, which start-up makes the program's folder.
inline constexpr wchar_t kLauncherIniPath[] = L".\\VelmLauncher.ini";

// Values read back are limited to this many characters.
inline constexpr size_t kLastSelectedMaxChars = 1023;

// Remembers the choice in a model whose realms fill the realm list in model order. Does
// nothing while the model has no realms (an empty realm list has nothing to remember).
// Writes the realm name at choice.realm_index (an empty text when it is outside the
// model), and the server name only when choice.server_index is inside that realm's
// servers: otherwise the remembered server stays. 1 when done, 0 when the file could not
// be written.
int SaveLastSelected(const std::wstring& ini_path, const ServerListModel& model,
                     const RememberedChoice& choice);

// The remembered realm and server of a rebuilt model, by exact name; -1 for either when
// the file, the key or the name is missing.
RememberedChoice RestoreLastSelected(const std::wstring& ini_path, const ServerListModel& model);

}  // namespace velm
