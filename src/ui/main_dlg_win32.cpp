// The main window's life and dispatch: messages reach the file that does the job
// (layout, painting, server lists, run outcome), commands the action they name.
#include "ui/main_dlg_win32.h"

#include <commctrl.h>
#include <shellapi.h>

#include "common/config_text_ids.h"
#include "common/string_ids.h"
#include "common/resource_text_win32.h"
#include "game/game_settings_win32.h"
#include "services/last_selected_win32.h"
#include "services/report_list_win32.h"
#include "ui/game_config_dlg_win32.h"
#include "ui/main_dlg_parts_win32.h"
#include "ui/ui_ids.h"

namespace velm {

using namespace main_dlg;

namespace {

constexpr DWORD kServerListStopMs = 500;

}  // namespace

const wchar_t* CloseEventForMode(int32_t mode) {
    switch (mode) {
    case CMainDlg::kModePlay:
        return L"user_close_while_update_succeed";
    case CMainDlg::kModeCancel:
        return L"user_close_while_updating";
    default:
        return L"user_close_while_update_fail";
    }
}

CMainDlg::CMainDlg(const UpdateOptions& options) : UpdateRunWindow(options), store_(kLauncherIniPath) {}

CMainDlg::~CMainDlg() {
    if (window_) DestroyWindow(window_);
    EndRun();
}

bool CMainDlg::Create(HINSTANCE instance) { return CreateRunWindow(instance, kDialogMain) != nullptr; }

INT_PTR CMainDlg::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    if (HandleRunMessage(message, wparam, lparam)) return TRUE;
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog();
        return FALSE;  // the focus was set by the initialisation
    case WM_NCHITTEST:
        // The whole surface drags the window.
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, HTCAPTION);
        return TRUE;
    case WM_ERASEBKGND:
        PaintBackground(window_, reinterpret_cast<HDC>(wparam));
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, 1);
        return TRUE;
    case WM_PAINT: {
        PaintScope paint(window_);
        PaintBackground(window_, paint.Dc());
        return TRUE;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
        return ControlColour(message, reinterpret_cast<HDC>(wparam));
    case WM_MEASUREITEM:
        return MeasureServerRow(*reinterpret_cast<MEASUREITEMSTRUCT*>(lparam));
    case WM_DRAWITEM:
        return DrawServerRow(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
    case WM_COMMAND:
        OnCommand(LOWORD(wparam), HIWORD(wparam));
        return TRUE;
    case WM_TIMER:
        OnTimer(wparam);
        return TRUE;
    case WM_CLOSE:
        OnClose();
        return TRUE;
    case WM_DESTROY:
        OnDestroy();
        return FALSE;
    case UM_SERVER_LIST_REBUILT:
        FillListsFromStore();
        return TRUE;
    default:
        return FALSE;
    }
}

void CMainDlg::OnCommand(int id, int code) {
    switch (id) {
    case kMainButton:
        if (code == BN_CLICKED) OnMainButton();
        break;
    case kMainClose:
        if (code == BN_CLICKED) OnCloseButton();
        break;
    case kMainMinimise:
        if (code == BN_CLICKED) ShowWindow(window_, SW_MINIMIZE);
        break;
    case kMainAccount:
        if (code == BN_CLICKED) OpenPage(kConfigRegistrationPageUrl);
        break;
    case kMainHome:
        if (code == BN_CLICKED) OpenPage(kConfigHomePageUrl);
        break;
    case kMainPatch:
        if (code == BN_CLICKED) {
            PostLauncherReport(L"click_patchs", L"");
            OpenPage(kConfigPatchPageUrl);
        }
        break;
    case kMainSettings:
        if (code == BN_CLICKED) OpenGameSettings();
        break;
    case kMainRealmList:
        if (code == CBN_SELCHANGE) OnRealmChange();
        break;
    case kMainServerList:
        if (code == LBN_SELCHANGE) OnServerChange();
        break;
    case kMainRepair:
        if (code == BN_CLICKED && IsDlgButtonChecked(window_, kMainRepair) == BST_CHECKED)
            updater_.SetFullCheck(true);
        break;
    default:
        // Enter, Escape, the "+" button and the about command do nothing.
        break;
    }
}

void CMainDlg::OnTimer(UINT_PTR id) {
    if (id == kTimerProgress) RefreshProgressNow();
    if (id == kTimerServerList) InvalidateRect(Control(kMainServerList), nullptr, FALSE);
}

void CMainDlg::OpenPage(int config_text_id) {
    ShellExecuteW(nullptr, L"Open", LoadConfigText(config_text_id).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void CMainDlg::OpenGameSettings() {
    std::wstring perf_switch, engine;
    GameSettingsPaths(perf_switch, engine);
    GameConfigDlg dialog(perf_switch, engine);
    HWND owner = GetActiveWindow();
    dialog.DoModal(owner ? owner : window_);
}

void CMainDlg::ShowLaunchMessage(int string_id, const wchar_t* caption) {
    MessageBoxW(window_, LoadResString(string_id).c_str(), caption, MB_OK);
}

void CMainDlg::CloseAfterLaunch() {
    if (window_) PostMessageW(window_, WM_CLOSE, 0, 0);
}

void CMainDlg::OnCloseButton() {
    PostLauncherReport(CloseEventForMode(mode_), L"");
    SendMessageW(window_, WM_CLOSE, 0, 0);
}

void CMainDlg::OnClose() {
    if (closing_) return;
    closing_ = true;
    store_.SaveChoice();
    CloseAfterRun();
}

void CMainDlg::CloseNow() {
    closing_ = true;
    DestroyWindow(window_);
    PostQuitMessage(0);
}

void CMainDlg::OnDestroy() {
    KillTimer(window_, kTimerProgress);
    KillTimer(window_, kTimerServerList);
    if (refresh_) refresh_->Stop(kServerListStopMs);
    SendMessageW(Control(kMainRealmList), CB_RESETCONTENT, 0, 0);
    // Texts posted by workers that the window will never show.
    DropPostedStatusTexts();
    news_.Destroy();
    // The dialog deletes its font after this message, and the skin's bitmaps go with the
    // object: none may still be selected by then.
    scratch_font_.reset();
    if (scratch_) scratch_->Deselect();
    if (background_) background_->Deselect();
}

}  // namespace velm
