#pragma once
// The launcher's replacement of itself: when the file list names a launcher whose MD5
// differs from the running one, it is downloaded beside it, checked against that MD5, the
// player is told, and a script in the installation's tmp folder swaps the files once this
// process has exited.
//
// Runs on the update thread, between the file list and the file jobs of a run.
#include <string>

#include "formats/file_list.h"

namespace velm {

class TClientUpdater;

// kRefused: a newer launcher is published, but the replacement script could not name the
// running one; the player has been told and the run goes on with the client files.
enum class SelfUpdateOutcome { kCurrent, kReplacing, kFailed, kRefused };

enum class SwapStart { kStarted, kUnsafePath, kScriptNotWritten, kNotStarted };

class LauncherSelfUpdate {
public:
    explicit LauncherSelfUpdate(TClientUpdater& run) : run_(run) {}

    // launcher is the list's entry for the launcher; running is the executable to swap.
    SelfUpdateOutcome Run(const LauncherEntry& launcher, const std::wstring& running);

private:
    // Downloads the new launcher to its place in tmp; false when it did not arrive whole
    // with the published MD5 (nothing is left behind then).
    bool Download(const LauncherEntry& launcher);
    // Writes and starts the replacement script; failures are reported to the player.
    void StartReplacement(const std::wstring& running);

    TClientUpdater& run_;
};

// The executable of this process.
std::wstring RunningModulePath();

// The path of the launcher as the replacement script names it: in the console code page,
// in its short form when the long one has characters that code page lacks. False when
// neither can be written.
bool LauncherPathForScript(const std::wstring& running, std::string& path);

// Writes "tmp\\replace.cmd" for the launcher at running (relative to the current folder,
// which must be the installation's, with the new launcher at "tmp\\VelmLauncher.ex_") and
// starts it hidden.
SwapStart StartLauncherSwap(const std::wstring& running);

}  // namespace velm
