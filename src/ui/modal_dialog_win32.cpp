#include "ui/modal_dialog_win32.h"

namespace velm {

INT_PTR ModalDialog::DoModal(HWND owner) {
    INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(template_id_),
                                     owner, DialogProc, reinterpret_cast<LPARAM>(this));
    window_ = nullptr;
    return result;
}

INT_PTR CALLBACK ModalDialog::DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<ModalDialog*>(lparam);
        SetWindowLongPtrW(window, DWLP_USER, lparam);
        self->window_ = window;
        return self->HandleMessage(message, wparam, lparam);
    }
    auto* self = reinterpret_cast<ModalDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!self) return FALSE;
    if (message == WM_NCDESTROY) self->window_ = nullptr;
    return self->HandleMessage(message, wparam, lparam);
}

}  // namespace velm
