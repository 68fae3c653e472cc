#include "app/game_settings_win32.h"

#include <windows.h>
#include <shlobj.h>

namespace velm {

PerfSwitchSettings& GameSettingsModel() {
    static PerfSwitchSettings model;
    return model;
}

void LoadGameSettingsModel() {
    wchar_t documents[MAX_PATH] = {};
    std::wstring perf_switch, engine;
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents))) {
        perf_switch = std::wstring(documents) + kPerfSwitchFileInDocuments;
        engine = std::wstring(documents) + kEngineFileInDocuments;
    }
    GameSettingsModel().Load(perf_switch, engine);
}

}  // namespace velm
