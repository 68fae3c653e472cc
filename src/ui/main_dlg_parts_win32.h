#pragma once
// What the files of the main window (CMainDlg) share: the size of a server row, its timers
// and its own message. Only those files include it.
#include <windows.h>

#include <string>

#include "ui/ui_ids.h"
#include "ui/update_run_window_win32.h"

namespace velm::main_dlg {

// A row of the server list is one frame of the row strip.
inline constexpr int kRowHeight = 23;
inline constexpr int kRowWidth = kServerRowFrameWidth;
// The scratch surface a row is composed on: larger than any row.
inline constexpr int kScratchSize = 200;

inline constexpr UINT_PTR kTimerServerList = 102;

// The server list rebuilt on the fetch thread.
inline constexpr UINT UM_SERVER_LIST_REBUILT = kFirstWindowOwnMessage;

}  // namespace velm::main_dlg
