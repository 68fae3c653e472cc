// The game of the demo: the launcher starts ".\Binaries\Win32\Velm.exe" of the installation
// with the composed command line, and this program stands in for the real client there.
// It writes what it was given to "demo_game.out" (UTF-8: the command line, then the
// folder it runs in) and shows it in a message box, which closes by itself after a minute
// so that an unattended demo never hangs on it.
#include <windows.h>

#include <string>

#include "common/handle_win32.h"

namespace {

std::string ToUtf8(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0,
                                   nullptr, nullptr);
    std::string out(size_t(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), out.data(), size,
                            nullptr, nullptr);
    return out;
}

bool WriteRecord(const std::wstring& command_line, const std::wstring& folder) {
    std::string bytes = ToUtf8(command_line + L"\n" + folder + L"\n");
    velm::UniqueHandle file(CreateFileW(L"demo_game.out", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file.Get(), bytes.data(), DWORD(bytes.size()), &written, nullptr);
    return ok && written == bytes.size();
}

// The message box belongs to this thread; a timer on the thread ends it.
VOID CALLBACK CloseMessageBox(HWND, UINT, UINT_PTR, DWORD) {
    PostQuitMessage(0);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t folder[MAX_PATH + 1] = {};
    GetCurrentDirectoryW(MAX_PATH, folder);
    std::wstring command_line = GetCommandLineW();
    bool recorded = WriteRecord(command_line, folder);
    std::wstring text = L"演示游戏已由启动器启动。\n\n命令行：\n" + command_line +
                        L"\n\n当前目录：\n" + folder;
    if (!recorded) text += L"\n\n(demo_game.out 无法写入)";
    SetTimer(nullptr, 0, 60000, CloseMessageBox);
    MessageBoxW(nullptr, text.c_str(), L"Velm 演示游戏", MB_OK | MB_ICONINFORMATION);
    return recorded ? 0 : 1;
}
