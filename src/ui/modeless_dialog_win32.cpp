#include "ui/modeless_dialog_win32.h"

namespace velm {

HWND ModelessDialog::CreateModeless(HINSTANCE instance, int template_id) {
    HWND window = CreateDialogParamW(instance, MAKEINTRESOURCEW(template_id), nullptr, DialogProc,
                                     reinterpret_cast<LPARAM>(this));
    return window && window_ ? window : nullptr;
}

INT_PTR CALLBACK ModelessDialog::DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    ModelessDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<ModelessDialog*>(lparam);
        self->window_ = window;
        SetWindowLongPtrW(window, DWLP_USER, LONG_PTR(self));
    } else {
        self = reinterpret_cast<ModelessDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    }
    if (!self) return FALSE;
    INT_PTR handled = self->HandleMessage(message, wparam, lparam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, DWLP_USER, 0);
        self->window_ = nullptr;
    }
    return handled;
}

}  // namespace velm
