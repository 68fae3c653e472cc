#pragma once
// A modeless top-level dialog from a template of the executable's resources, with its
// messages handed to a member function: the main window and the update window. UI thread
// only.
#include <windows.h>

namespace velm {

class ModelessDialog {
public:
    ModelessDialog(const ModelessDialog&) = delete;
    ModelessDialog& operator=(const ModelessDialog&) = delete;

protected:
    ModelessDialog() = default;
    virtual ~ModelessDialog() = default;

    // The dialog's handle, or null when it could not be created or destroyed itself during
    // its initialisation.
    HWND CreateModeless(HINSTANCE instance, int template_id);
    // The message loop's filter: keyboard navigation of the dialog.
    bool TranslateDialogMessage(MSG& message) { return window_ && IsDialogMessageW(window_, &message); }

    // A dialog procedure's answer: TRUE for a message handled. WM_INITDIALOG arrives here
    // too, with window_ already set.
    virtual INT_PTR HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) = 0;

    // From WM_INITDIALOG until the window is gone.
    HWND window_ = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
};

}  // namespace velm
