#include "game/game_folder_win32.h"

#include <windows.h>

#include <algorithm>

#include "common/handle_win32.h"
#include "common/file_io.h"

namespace velm {

std::wstring ProgramFolder() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (length == 0) return L".";
        if (length < path.size()) {
            std::wstring folder(path.data(), length);
            size_t slash = folder.find_last_of(L"\\/");
            return slash == std::wstring::npos ? L"." : folder.substr(0, slash);
        }
        path.resize(path.size() * 2);
    }
}

int ReadGameVersion(const std::wstring& ini_path, std::wstring& version) {
    wchar_t buffer[1024] = {};
    GetPrivateProfileStringW(L"TCore.VelmEngineBase", L"m_strGameVersion", L"Unknown", buffer,
                             1024, ini_path.c_str());
    version = buffer;
    return 1;
}

int ReadInstallPath(std::wstring& folder, const std::wstring& key_path) {
    UniqueRegKey key;
    // Reading needs no write access; asking for it would fail for players without
    // administrator rights.
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, KEY_READ, key.Out()) != ERROR_SUCCESS)
        return 0;
    wchar_t buffer[512] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);  // keeps a terminator in the buffer
    DWORD type = 0;
    LONG status = RegQueryValueExW(key.Get(), L"InstallPath", nullptr, &type,
                                   reinterpret_cast<BYTE*>(buffer), &size);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || buffer[0] == 0)
        return 0;
    folder = buffer;
    return 1;
}

bool WriteInstallPath(const std::wstring& key_path, const std::wstring& folder) {
    UniqueRegKey key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, key.Out(), nullptr) != ERROR_SUCCESS)
        return false;
    std::wstring value = folder + L"\\";
    LONG status = RegSetValueExW(key.Get(), L"InstallPath", 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(value.c_str()),
                                 DWORD((value.size() + 1) * sizeof(wchar_t)));
    return status == ERROR_SUCCESS;
}

int CheckClientFolder(const std::wstring& folder, const std::vector<std::wstring>& accepted_versions) {
    if (!FileExists(folder + L"\\Binaries\\win32\\Velm.exe")) return -2;
    std::wstring version;
    ReadGameVersion(folder + L"\\VelmGame\\Config\\DefaultGame.ini", version);
    if (version.empty()) return -3;
    bool accepted = std::find(accepted_versions.begin(), accepted_versions.end(), version) !=
                    accepted_versions.end();
    return accepted ? 0 : -1;
}

std::vector<std::wstring> SplitLines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

}  // namespace velm
