// The main button and the update run it drives: its three faces (update, cancel, play),
// the progress texts and bars once a second, and the run's outcome shown to the player
// (the play face, the error list, or the window giving way to the launcher's replacement).
#include "ui/main_dlg_win32.h"

#include <commctrl.h>

#include "common/config_text_ids.h"
#include "common/string_ids.h"
#include "common/resource_text_win32.h"
#include "game/game_folder_win32.h"
#include "common/log.h"
#include "common/url.h"
#include "services/report_list_win32.h"
#include "ui/error_result_dlg_win32.h"
#include "ui/image_strip_win32.h"
#include "ui/main_dlg_parts_win32.h"
#include "ui/ui_ids.h"

namespace velm {

using namespace main_dlg;

namespace {

constexpr const wchar_t* kLocalVersionIni = L".\\VelmGame\\Config\\DefaultGame.ini";

}  // namespace

void CMainDlg::SetButtonMode(int32_t mode, bool enable) {
    mode_ = mode;
    int face = kBitmapMainUpdate;
    bool repair_enabled = true;
    if (mode == kModePlay) {
        PostLauncherReport(L"update_succeeded", L"");
        FLASHWINFO flash{sizeof(flash), window_, FLASHW_TRAY, 1, 0};
        FlashWindowEx(&flash);
        face = kBitmapMainPlay;
    } else if (mode == kModeCancel) {
        face = kBitmapMainCancel;
        repair_enabled = false;
    }
    main_button_.SetImages(LoadImageStrip(instance_, face, kMainButtonFrameWidth, kSkinMagenta));
    EnableWindow(Control(kMainRepair), repair_enabled);
    InvalidateRect(Control(kMainButton), nullptr, TRUE);
    InvalidateRect(Control(kMainServerList), nullptr, TRUE);
    EnableWindow(Control(kMainButton), enable);
}

void CMainDlg::OnMainButton() {
    if (mode_ == kModePlay) {
        StartGame();
        return;
    }
    if (mode_ == kModeCancel) {
        // The button stays disabled until the run has ended and reported, which sets it
        // back.
        SetButtonMode(kModeCancel, false);
        CancelRun();
        return;
    }
    SetButtonMode(kModeCancel, true);
    PrepareRun();
    if (!StartRun()) {
        // No run to cancel: the player gets the failure and the update button back.
        const std::wstring failed = LoadResString(kStringUpdateFailed);
        LauncherLog::Instance().Write(L"Update thread could not be started, error %d\n", int(GetLastError()));
        SetTransparentText(kMainStatusLine, failed);
        SetButtonMode(kModeUpdate, true);
        MessageBoxW(window_, failed.c_str(), L"Error", MB_OK);
    }
}

void CMainDlg::StartGame() {
    GameLaunchInputs inputs;
    inputs.game_executable = LoadConfigText(kConfigGameExecutable);
    inputs.fixed_arguments = LoadConfigText(kConfigGameArguments);
    inputs.process_command_line = GetCommandLineW();
    // A failure has been shown to the player by the game start itself.
    LaunchGame(store_, inputs, *this);
}

void CMainDlg::RefreshProgressNow() {
    ProgressDisplay display = SampleProgress();
    if (display.report_stall) PostLauncherReport(L"download_stucked", L"");
    if (display.overall_text != shown_.overall_text) SetTransparentText(kMainOverallText, display.overall_text);
    if (display.file_text != shown_.file_text) SetTransparentText(kMainFileText, display.file_text);
    SendMessageW(Control(kMainOverallBar), PBM_SETPOS, WPARAM(display.overall_bar), 0);
    SendMessageW(Control(kMainFileBar), PBM_SETPOS, WPARAM(display.file_bar), 0);
    shown_ = std::move(display);
}

void CMainDlg::ShowStatusLine(const std::wstring& text) { SetTransparentText(kMainStatusLine, text); }

void CMainDlg::ShowLocalVersion() {
    std::wstring version;
    SetTransparentText(kMainLocalVersion,
                       std::wstring(L"本地版本") + (ReadGameVersion(kLocalVersionIni, version) ? version : L"Unknown"));
}

void CMainDlg::OnUpdateFinished(int result) {
    if (result == kUpdateSucceeded) {
        OnUpdateSucceeded();
        return;
    }
    if (result == kUpdateFailed) {
        OnUpdateFailed();
        return;
    }
    if (result == kUpdateLauncherReplaced) {
        // The replacement script waits for this process to end.
        closing_ = true;
        DestroyWindow(window_);
        PostQuitMessage(1);
    }
}

void CMainDlg::OnUpdateSucceeded() {
    const std::wstring done = LoadResString(kStringUpdateDone);
    LauncherLog::Instance().Write(L"%ls\n", done.c_str());
    SetTransparentText(kMainStatusLine, done);
    SetButtonMode(kModePlay, true);
    SendMessageW(Control(kMainOverallBar), PBM_SETPOS, 0, 0);
    SendMessageW(Control(kMainFileBar), PBM_SETPOS, 0, 0);
    ShowLocalVersion();
}

void CMainDlg::OnUpdateFailed() {
    const std::wstring failed = LoadResString(kStringUpdateFailed);
    LauncherLog::Instance().Write(L"%ls\n", failed.c_str());
    SetTransparentText(kMainStatusLine, failed);
    std::vector<std::wstring> errors = updater_.GetErrors();
    if (!errors.empty()) {
        ShowRunErrors(std::move(errors));
    } else {
        MessageBoxW(window_, failed.c_str(), L"Error", MB_OK);
    }
    SetButtonMode(kModeUpdate, true);
}

// The run's errors in the error result dialog, with the address of the server that failed.
void CMainDlg::ShowRunErrors(std::vector<std::wstring> errors) {
    PostLauncherReport(L"update_failed", L"");
    std::vector<std::wstring> roots = updater_.UrlRoots();
    std::wstring address = roots.empty() ? updater_.LauncherUrl() : roots.front();
    // A list that never arrived names no server; the one that failed to send it is the
    // one worth showing.
    if (address.empty()) address = options_.file_list_url;
    // The host without its port: "host:8080" resolves to nothing.
    UrlEndpoint endpoint;
    ErrorResultDlg dialog(errors, LoadConfigText(kConfigFileListUrl), LoadConfigText(kConfigPatchPageUrl));
    // Resolved by the dialog on a worker: a slow name server must not freeze the window.
    dialog.AddServerIpLine(SplitUrl(address, &endpoint) ? endpoint.host : L"");
    dialog.DoModal(window_);
}

}  // namespace velm
