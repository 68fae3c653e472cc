#pragma once
// A modal dialog from a template of the executable's resources, with its messages handed
// to a member function. UI thread only.
#include <windows.h>

namespace velm {

class ModalDialog {
public:
    ModalDialog(const ModalDialog&) = delete;
    ModalDialog& operator=(const ModalDialog&) = delete;

    // Runs the dialog with owner (may be null) until it ends; returns the value it ended
    // with, or -1 when it could not be created.
    INT_PTR DoModal(HWND owner);

    HWND Handle() const { return window_; }

protected:
    explicit ModalDialog(int template_id) : template_id_(template_id) {}
    virtual ~ModalDialog() = default;

    // A dialog procedure's answer: TRUE for a message handled. WM_INITDIALOG arrives here
    // too, with Handle() already set.
    virtual INT_PTR HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) = 0;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

    int template_id_;
    HWND window_ = nullptr;
};

}  // namespace velm
