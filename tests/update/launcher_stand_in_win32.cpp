// Stands in for the launcher in the self-replacement tests: notes each start in
// "stand_in_starts.txt" beside itself, and with "--hold" keeps running (so that its file
// cannot be deleted) until "stand_in_release.txt" appears there.
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    folder.erase(folder.find_last_of(L'\\'));
    const bool hold = argc > 1 && std::wcscmp(argv[1], L"--hold") == 0;
    HANDLE file = CreateFileW((folder + L"\\stand_in_starts.txt").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        const char* line = hold ? "hold\n" : "plain\n";
        DWORD written = 0;
        WriteFile(file, line, DWORD(std::strlen(line)), &written, nullptr);
        CloseHandle(file);
    }
    const std::wstring release = folder + L"\\stand_in_release.txt";
    for (int i = 0; hold && i < 2400 && GetFileAttributesW(release.c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(50);
    return 0;
}
