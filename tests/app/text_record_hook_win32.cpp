// A window hook that a test places on the launcher's window thread: every text a child
// control is sent is appended to the file named by VELM_TEXT_RECORD, so a test sees each
// text the control received, however briefly it stood, instead of sampling the window.
// Record: control id (4 bytes), length in UTF-16 units (4 bytes), the units.
// With VELM_REFRESH_CONTINUOUSLY set, a thread of the launcher's own has each dialog show
// its progress again as soon as it has shown it, until the dialog is gone: a run too short
// for the once-a-second timer is then shown many times while it works.
#include <windows.h>

#include "ui/ui_ids.h"

#include <cstdint>
#include <cwchar>

namespace {

void Append(const wchar_t* path, uint32_t control_id, const wchar_t* text) {
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const uint32_t length = uint32_t(std::wcslen(text));
    const uint32_t header[2] = {control_id, length};
    DWORD written = 0;
    WriteFile(file, header, sizeof(header), &written, nullptr);
    WriteFile(file, text, length * sizeof(wchar_t), &written, nullptr);
    CloseHandle(file);
}

DWORD WINAPI RefreshUntilGone(void* dialog) {
    const auto window = static_cast<HWND>(dialog);
    while (IsWindow(window) &&
           SendMessageTimeoutW(window, WM_TIMER, velm::kTimerProgress, 0, SMTO_ABORTIFHUNG, 5000, nullptr) != 0) {
    }
    return 0;
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK RecordChildTexts(int code, WPARAM wparam, LPARAM lparam) {
    const auto* message = reinterpret_cast<const CWPRETSTRUCT*>(lparam);
    if (code == HC_ACTION && message->message == WM_SETTEXT && message->lParam != 0 &&
        (GetWindowLongPtrW(message->hwnd, GWL_STYLE) & WS_CHILD) != 0) {
        wchar_t path[MAX_PATH] = {};
        const DWORD length = GetEnvironmentVariableW(L"VELM_TEXT_RECORD", path, MAX_PATH);
        if (length > 0 && length < MAX_PATH)
            Append(path, uint32_t(GetDlgCtrlID(message->hwnd)), reinterpret_cast<const wchar_t*>(message->lParam));
    }
    if (code == HC_ACTION && message->message == WM_INITDIALOG &&
        GetEnvironmentVariableW(L"VELM_REFRESH_CONTINUOUSLY", nullptr, 0) != 0) {
        HANDLE thread = CreateThread(nullptr, 0, RefreshUntilGone, message->hwnd, 0, nullptr);
        if (thread) CloseHandle(thread);
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}
