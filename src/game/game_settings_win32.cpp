#include "game/game_settings_win32.h"

#include <windows.h>
#include <shlobj.h>

#include "game/perf_switch_settings.h"

namespace velm {

void GameSettingsPaths(std::wstring& perf_switch, std::wstring& engine) {
    wchar_t documents[MAX_PATH] = {};
    perf_switch.clear();
    engine.clear();
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents))) {
        perf_switch = std::wstring(documents) + kPerfSwitchFileInDocuments;
        engine = std::wstring(documents) + kEngineFileInDocuments;
    }
}

}  // namespace velm
