#pragma once
// The program's entry and exit, run on the user-interface thread: Winsock, the program's
// folder as current folder, COM and the common controls, then the start-up procedure
// (single instance, switches, mode, installation record, start-up reports) and the one
// top-level window's message loop, then the bounded wait for report threads.
#include <windows.h>

#include <memory>

#include "app/process_settings.h"
#include "ui/launcher_window_win32.h"

namespace velm {

// Makes the window of the mode the settings choose, with what it needs from them. Null
// when the window cannot be created.
using LauncherWindowFactory = std::unique_ptr<LauncherWindow> (*)(HINSTANCE instance,
                                                                  const ProcessSettings& settings);

// The process exit code: -1 when Winsock cannot be started or has the wrong version;
// 0 when another copy runs or no window can be created; else the message loop's code.
int RunLauncher(HINSTANCE instance, const wchar_t* command_line, int show_command,
                LauncherWindowFactory create_main_window, LauncherWindowFactory create_update_window);

inline constexpr const wchar_t* kSingleInstanceMutexName = L"HarrowLaucher037349578e4623";

}  // namespace velm
