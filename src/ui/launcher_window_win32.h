#pragma once
// The one top-level window of a run: the main window in normal mode, the update window
// in package mode. The executable makes them, so that the start-up does not depend on the
// windows it shows.
#include <windows.h>

namespace velm {

class LauncherWindow {
public:
    virtual ~LauncherWindow() = default;
    virtual HWND Handle() const = 0;
    // The message loop offers every message here first (keyboard navigation of dialogs);
    // true when the window handled it.
    virtual bool PreTranslateMessage(MSG& message) = 0;
};

}  // namespace velm
