#pragma once
// The command script that swaps in a downloaded launcher once the running one has exited.
// A launcher is always there: the old file is copied aside first, deleting it is retried
// (it cannot be deleted while its process runs) for a bounded time, the new file is then
// moved into place with bounded retries, and a move that never succeeds puts the old file
// back. The launcher in place is started, and the script deletes its copy and itself.
// Run hidden by "cmd /d /v:off" from the installation folder.
#include <string>

namespace velm {

inline constexpr const wchar_t* kReplaceScriptPath = L"tmp\\replace.cmd";
inline constexpr const wchar_t* kDownloadedLauncherPath = L"tmp\\VelmLauncher.ex_";

// Tries of the two loops, one second apart: the old launcher has about two minutes to
// exit, the move about twenty seconds to succeed.
inline constexpr int kReplaceWaitTries = 120;
inline constexpr int kReplaceMoveTries = 20;

// The script's bytes for the launcher at launcher_path, which must be given in the code
// page the command interpreter reads the script in (the console's, OEM, code page). "%" is
// doubled here, so that the interpreter does not take it for a variable; lines end in
// CR LF.
std::string ReplaceScriptText(const std::string& launcher_path);

}  // namespace velm
