#include "ui/top_window_win32.h"

#include <memory>

#include "ui/ui_ids.h"

namespace velm {

void SetLauncherIcons(HWND window, HINSTANCE instance) {
    HICON big = HICON(LoadImageW(instance, MAKEINTRESOURCEW(kIconLauncher), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                 GetSystemMetrics(SM_CYICON), LR_SHARED));
    HICON small = HICON(LoadImageW(instance, MAKEINTRESOURCEW(kIconLauncher), IMAGE_ICON,
                                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    SendMessageW(window, WM_SETICON, ICON_BIG, LPARAM(big));
    SendMessageW(window, WM_SETICON, ICON_SMALL, LPARAM(small));
}

void PostTextCopy(HWND window, UINT message, const std::wstring& text) {
    auto copy = std::make_unique<std::wstring>(text.substr(0, 1023));
    if (window && PostMessageW(window, message, 0, LPARAM(copy.get()))) copy.release();
}

void DropPostedTexts(HWND window, UINT message) {
    MSG pending;
    while (PeekMessageW(&pending, window, message, message, PM_REMOVE))
        delete reinterpret_cast<std::wstring*>(pending.lParam);
}

}  // namespace velm
