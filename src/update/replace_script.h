#pragma once
// The command script that swaps in a downloaded launcher: it waits until the running
// launcher's file can be deleted (the process has exited), moves the new file into place,
// starts it and deletes itself. Run hidden from the installation folder.
#include <string>

namespace velm {

inline constexpr const wchar_t* kReplaceScriptPath = L"tmp\\replace.cmd";
inline constexpr const wchar_t* kDownloadedLauncherPath = L"tmp\\VelmLauncher.ex_";

// The script's bytes for the launcher at launcher_path, given in the system's ANSI code
// page as the command interpreter reads it: seven lines ending in CR LF except the last.
std::string ReplaceScriptText(const std::string& launcher_path_ansi);

}  // namespace velm
