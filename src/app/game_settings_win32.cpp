#include "app/game_settings_win32.h"

#include <windows.h>
#include <shlobj.h>

namespace velm {

PerfSwitchSettings& GameSettingsModel() {
    static PerfSwitchSettings model;
    return model;
}

void GameSettingsPaths(std::wstring& perf_switch, std::wstring& engine) {
    wchar_t documents[MAX_PATH] = {};
    perf_switch.clear();
    engine.clear();
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents))) {
        perf_switch = std::wstring(documents) + kPerfSwitchFileInDocuments;
        engine = std::wstring(documents) + kEngineFileInDocuments;
    }
}

void LoadGameSettingsModel() {
    std::wstring perf_switch, engine;
    GameSettingsPaths(perf_switch, engine);
    GameSettingsModel().Load(perf_switch, engine);
}

}  // namespace velm
