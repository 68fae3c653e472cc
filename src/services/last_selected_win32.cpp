#include "services/last_selected_win32.h"

#include <windows.h>

#include <iterator>

#include "common/log.h"

namespace velm {
namespace {

const wchar_t kRealmSection[] = L"Realm";
const wchar_t kServerSection[] = L"Server";
const wchar_t kLastSelectedKey[] = L"LastSelected";

std::wstring ReadValue(const std::wstring& ini_path, const wchar_t* section) {
    wchar_t value[kLastSelectedMaxChars + 1] = {};
    DWORD length = GetPrivateProfileStringW(section, kLastSelectedKey, L"", value,
                                            DWORD(std::size(value)), ini_path.c_str());
    return std::wstring(value, length);
}

bool IsProfileBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Reading a value drops the blanks around it and one pair of double quotes enclosing it,
// so a name with either at its ends would come back as another name: such values are
// written inside a pair of quotes, which the reading takes off again.
std::wstring ProfileValue(const std::wstring& value) {
    if (value.empty()) return value;
    bool enclosed = value.size() >= 2 && value.front() == L'"' && value.back() == L'"';
    if (enclosed || IsProfileBlank(value.front()) || IsProfileBlank(value.back())) {
        return L"\"" + value + L"\"";
    }
    return value;
}

bool WriteValue(const std::wstring& ini_path, const wchar_t* section, const std::wstring& value) {
    if (WritePrivateProfileStringW(section, kLastSelectedKey, ProfileValue(value).c_str(),
                                   ini_path.c_str())) {
        return true;
    }
    LauncherLog::Instance().Write(L"SaveLastSelected: cannot write [%ls] to %ls, error %d\n",
                                  section, ini_path.c_str(), int(GetLastError()));
    return false;
}

}  // namespace

int SaveLastSelected(const std::wstring& ini_path, const ServerListModel& model,
                     const RememberedChoice& choice) {
    const std::vector<RealmEntry>& realms = model.realms();
    if (realms.empty()) return 1;
    bool realm_chosen = choice.realm_index >= 0 && size_t(choice.realm_index) < realms.size();
    const RealmEntry* realm = realm_chosen ? &realms[size_t(choice.realm_index)] : nullptr;
    if (!WriteValue(ini_path, kRealmSection, realm ? realm->name : std::wstring())) return 0;
    if (realm && choice.server_index >= 0 &&
        size_t(choice.server_index) < realm->servers.size()) {
        const std::wstring& server = realm->servers[size_t(choice.server_index)].server_name;
        if (!WriteValue(ini_path, kServerSection, server)) return 0;
    }
    return 1;
}

RememberedChoice RestoreLastSelected(const std::wstring& ini_path, const ServerListModel& model) {
    std::wstring server = ReadValue(ini_path, kServerSection);
    std::wstring realm = ReadValue(ini_path, kRealmSection);
    return FindRememberedChoice(model, realm, server);
}

}  // namespace velm
