#include "ui/game_config_dlg_win32.h"

#include <commctrl.h>

#include "services/report_list_win32.h"
#include "ui/ui_ids.h"

namespace velm {
namespace {

struct SliderRange {
    int id;
    int maximum;  // every slider starts at 0
};
constexpr SliderRange kSliders[] = {
    {kSliderCharMatDetail, 1}, {kSliderSceneMatDetail, 3}, {kSliderTextureDetail, 1},
    {kSliderParticleLodBias, 2}, {kSliderShadowQuality, 1},
};

void SetSlider(HWND dialog, int id, int position) {
    SendDlgItemMessageW(dialog, id, TBM_SETPOS, TRUE, position);
}

int SliderPosition(HWND dialog, int id) {
    return int(SendDlgItemMessageW(dialog, id, TBM_GETPOS, 0, 0));
}

void SetCheck(HWND dialog, int id, bool checked) {
    CheckDlgButton(dialog, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

}  // namespace

GameConfigDlg::GameConfigDlg(const std::wstring& perf_switch_path, const std::wstring& engine_path)
    : ModalDialog(kDialogGameConfig) {
    model_.Load(perf_switch_path, engine_path);
}

void GameConfigDlg::ShowModel() {
    HWND dialog = Handle();
    for (const SliderRange& slider : kSliders) {
        SendDlgItemMessageW(dialog, slider.id, TBM_SETRANGE, TRUE, MAKELPARAM(0, slider.maximum));
    }
    // Values outside a slider's range (the files are the game's and the player's) show at
    // the nearer end; the trackbar holds them there.
    SetSlider(dialog, kSliderCharMatDetail, model_.m_iCharMatDetail);
    SetSlider(dialog, kSliderSceneMatDetail, model_.m_iSceneMatDetail);
    SetSlider(dialog, kSliderTextureDetail, model_.m_iTextureDetail);
    SetSlider(dialog, kSliderParticleLodBias, model_.m_iParticleLodBias);
    SetSlider(dialog, kSliderShadowQuality, model_.m_iShadowQuality);
    SetCheck(dialog, kCheckFacialAnim, model_.m_bFacialAnim);
    SetCheck(dialog, kCheckCharPhysics, model_.m_bCharPhysics);
    SetCheck(dialog, kCheckDof, model_.m_bDOF);
    SetCheck(dialog, kCheckVsync, model_.m_bVsync);
    SetCheck(dialog, kCheckFullScreenBloom, model_.m_bFullScreenBloom);
    SetCheck(dialog, kCheckLowEnergyCost, model_.m_bLowEnergyCost != 0);
}

void GameConfigDlg::ShowDefaults() {
    HWND dialog = Handle();
    SetCheck(dialog, kCheckFullScreenBloom, true);
    SetCheck(dialog, kCheckFacialAnim, true);
    SetCheck(dialog, kCheckVsync, false);
    SetCheck(dialog, kCheckDof, false);
    SetCheck(dialog, kCheckCharPhysics, false);
    SetSlider(dialog, kSliderCharMatDetail, 1);
    SetSlider(dialog, kSliderSceneMatDetail, 2);
    SetSlider(dialog, kSliderTextureDetail, 1);
    SetSlider(dialog, kSliderParticleLodBias, 2);
    SetSlider(dialog, kSliderShadowQuality, 0);
}

void GameConfigDlg::TakeControls() {
    HWND dialog = Handle();
    model_.m_bFacialAnim = Checked(dialog, kCheckFacialAnim);
    model_.m_bCharPhysics = Checked(dialog, kCheckCharPhysics);
    model_.m_bDOF = Checked(dialog, kCheckDof);
    model_.m_bVsync = Checked(dialog, kCheckVsync);
    model_.m_bFullScreenBloom = Checked(dialog, kCheckFullScreenBloom);
    model_.m_bLowEnergyCost = Checked(dialog, kCheckLowEnergyCost) ? 1 : 0;
    model_.m_iCharMatDetail = SliderPosition(dialog, kSliderCharMatDetail);
    model_.m_iSceneMatDetail = SliderPosition(dialog, kSliderSceneMatDetail);
    model_.m_iTextureDetail = SliderPosition(dialog, kSliderTextureDetail);
    model_.m_iParticleLodBias = SliderPosition(dialog, kSliderParticleLodBias);
    model_.m_iShadowQuality = SliderPosition(dialog, kSliderShadowQuality);
}

INT_PTR GameConfigDlg::HandleMessage(UINT message, WPARAM wparam, LPARAM) {
    if (message == WM_INITDIALOG) {
        ShowModel();
        return TRUE;
    }
    if (message != WM_COMMAND || HIWORD(wparam) != BN_CLICKED) return FALSE;
    switch (LOWORD(wparam)) {
    case kButtonDefaults:
        ShowDefaults();
        return TRUE;
    case IDOK:
        PostLauncherReport(L"change_settings", L"");
        TakeControls();
        // The dialog closes whatever the answer; Save logs what it could not write.
        model_.Save();
        EndDialog(Handle(), IDOK);
        return TRUE;
    case IDCANCEL:
        EndDialog(Handle(), IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

}  // namespace velm
