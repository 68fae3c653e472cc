#pragma once
// The game settings model of the run: loaded by start-up from the game's INI files in
// the player's documents folder and kept for the whole run (the settings dialog edits it).
// User-interface thread only.
#include <string>

#include "ui/perf_switch_settings.h"

namespace velm {

PerfSwitchSettings& GameSettingsModel();

// Reads the model from the two files; with no documents folder both paths are empty and
// the model keeps its defaults.
void LoadGameSettingsModel();

// Where the two files are: the performance switches and the engine settings in the
// player's documents folder; both empty when there is no documents folder.
void GameSettingsPaths(std::wstring& perf_switch, std::wstring& engine);

}  // namespace velm
