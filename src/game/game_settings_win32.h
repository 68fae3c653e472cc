#pragma once
// Where the game keeps the player's graphics settings: two INI files in the player's
// documents folder, which the settings dialog reads and writes.
#include <string>

namespace velm {

// The performance switches and the engine settings; both empty when there is no
// documents folder.
void GameSettingsPaths(std::wstring& perf_switch, std::wstring& engine);

}  // namespace velm
