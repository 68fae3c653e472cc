#pragma once
// Reads the counters of a window's update run for one progress refresh: the manager's
// jobs and the updater's check state, as both windows show them. UI thread.
#include <cstdint>

#include "download/download_manager_win32.h"
#include "ui/progress_display.h"
#include "update/client_updater_win32.h"

namespace velm {

// done_bytes and total_bytes are the window's own counters, read by the caller under
// its lock.
ProgressSample SampleRunProgress(CSTDownloadManager& manager, const TClientUpdater& updater,
                                 int64_t done_bytes, int64_t total_bytes);

}  // namespace velm
