#pragma once
// The game settings dialog ("游戏设置"): five detail sliders and six switches over the
// game's graphics settings. Each opening reads the two INI files afresh; only "确定"
// writes them (and sends the "change_settings" report); "默认设置" changes only the
// controls. UI thread only.
#include <string>

#include "ui/modal_dialog_win32.h"
#include "game/perf_switch_settings.h"

namespace velm {

class GameConfigDlg : public ModalDialog {
public:
    // Loads the model from the performance switch file (engine_path is only written).
    GameConfigDlg(const std::wstring& perf_switch_path, const std::wstring& engine_path);

    const PerfSwitchSettings& model() const { return model_; }

private:
    INT_PTR HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
    void ShowModel();
    void ShowDefaults();
    void TakeControls();

    PerfSwitchSettings model_;
};

}  // namespace velm
