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

enum class SelfUpdateOutcome { kCurrent, kReplacing, kFailed };

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

}  // namespace velm
