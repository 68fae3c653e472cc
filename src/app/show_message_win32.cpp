#include "app/show_message_win32.h"

#include "app/process_settings.h"

namespace velm {

int ShowMessage(const std::wstring& text, const wchar_t* caption, UINT style) {
    HWND owner = static_cast<HWND>(Settings().main_window);
    if (!owner || !IsWindow(owner)) owner = GetActiveWindow();
    return MessageBoxW(owner, text.c_str(), caption, style);
}

}  // namespace velm
