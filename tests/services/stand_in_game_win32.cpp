// Stands in for the game client in the game start tests: records the command line it was
// given and the folder it runs in, as UTF-16LE "<command line>\n<current folder>", in
// "stand_in_game.out" of its current folder. The file appears whole (renamed into place).
#include <windows.h>

#include <string>

int wmain() {
    wchar_t folder[MAX_PATH + 1] = {};
    GetCurrentDirectoryW(MAX_PATH, folder);
    std::wstring text = std::wstring(GetCommandLineW()) + L"\n" + folder;
    HANDLE file = CreateFileW(L"stand_in_game.tmp", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text.data(), DWORD(text.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
    if (!ok) return 1;
    return MoveFileExW(L"stand_in_game.tmp", L"stand_in_game.out", MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
