#include "ui/main_dlg_win32.h"

#include <commctrl.h>
#include <shellapi.h>

#include <vector>

#include "common/config_text_ids.h"
#include "common/string_ids.h"
#include "common/resource_text_win32.h"
#include "game/game_folder_win32.h"
#include "game/game_settings_win32.h"
#include "common/log.h"
#include "common/url.h"
#include "services/last_selected_win32.h"
#include "services/report_list_win32.h"
#include "services/resolve_host_win32.h"
#include "services/server_status.h"
#include "ui/error_result_dlg_win32.h"
#include "ui/game_config_dlg_win32.h"
#include "ui/image_strip_win32.h"
#include "ui/top_window_win32.h"
#include "ui/ui_ids.h"

namespace velm {
namespace {

constexpr int kClientWidth = 746;
constexpr int kClientHeight = 580;
constexpr UINT_PTR kTimerProgress = 100;
constexpr UINT_PTR kTimerServerList = 102;
constexpr UINT kProgressPeriodMs = 1000;
constexpr UINT kServerListPeriodMs = 100;
constexpr DWORD kCancelWaitMs = 5000;
constexpr DWORD kServerListStopMs = 500;
constexpr int kRowHeight = 23;
constexpr int kRowWidth = 163;
constexpr int kScratchSize = 200;
constexpr int kStatusIconX = 3, kRowTextY = 4, kBadgeX = 143;
// Texts over the skin: the system's black would vanish in its dark blue.
constexpr COLORREF kSkinTextColour = RGB(255, 255, 255);
// The server list rebuilt on the fetch thread. The run's own messages use WM_APP + 0x10
// and 0x11 (UpdateRunWindow).
constexpr UINT UM_SERVER_LIST_REBUILT = WM_APP + 0x12;
constexpr const wchar_t* kLocalVersionIni = L".\\VelmGame\\Config\\DefaultGame.ini";

// Controls drawn over the background: they take their background from the skin.
constexpr int kTransparentStatics[] = {kMainRealmCopy, kMainSelection, kMainOverallText, kMainFileText,
                                       kMainStatusLine, kMainLocalVersion, kMainOnlineVersion,
                                       kMainSelectionLabel};

RECT ChildRect(HWND parent, HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::wstring WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(size_t(length) + 1, L'\0');
    text.resize(size_t(GetWindowTextW(window, text.data(), length + 1)));
    return text;
}

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
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window_, &paint);
        PaintBackground(window_, dc);
        EndPaint(window_, &paint);
        return TRUE;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX: {
        HDC dc = reinterpret_cast<HDC>(wparam);
        SetBkMode(dc, TRANSPARENT);
        // Only the statics sit on the skin; the drop-down keeps the system's colours.
        if (message == WM_CTLCOLORSTATIC) SetTextColor(dc, kSkinTextColour);
        return INT_PTR(GetStockObject(HOLLOW_BRUSH));
    }
    case WM_MEASUREITEM: {
        auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lparam);
        if (measure->CtlID != kMainServerList) return FALSE;
        measure->itemHeight = kRowHeight;
        measure->itemWidth = kRowWidth;
        return TRUE;
    }
    case WM_DRAWITEM: {
        auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lparam);
        if (item->CtlID != kMainServerList) return FALSE;
        DrawServerRow(*item);
        return TRUE;
    }
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

void CMainDlg::OnInitDialog() {
    // Hints first: they are placed relative to the window as it ends up.
    realm_hint_.Create(window_, instance_, kBitmapHintRealm, 182, POINT{559, 31});
    server_arrow_hint_.Create(window_, instance_, kBitmapHintArrow, 66, POINT{488, 104});
    server_frame_hint_.Create(window_, instance_, kBitmapHintServers, 182, POINT{558, 102});
    status_icons_ = LoadImageStrip(instance_, kBitmapServerStatus, 11, kSkinMagenta);
    badges_ = LoadImageStrip(instance_, kBitmapServerBadges, 18, kSkinMagenta);
    row_frames_ = LoadImageStrip(instance_, kBitmapServerRows, kRowWidth, kSkinMagenta);

    LONG_PTR style = GetWindowLongPtrW(window_, GWL_STYLE);
    style &= ~LONG_PTR(WS_CAPTION | WS_THICKFRAME | WS_BORDER | WS_DLGFRAME);
    SetWindowLongPtrW(window_, GWL_STYLE, style | WS_POPUP | WS_MINIMIZEBOX | WS_SYSMENU);
    SetWindowLongPtrW(window_, GWL_EXSTYLE,
                      (GetWindowLongPtrW(window_, GWL_EXSTYLE) | WS_EX_LAYERED | WS_EX_APPWINDOW) &
                          ~LONG_PTR(WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE | WS_EX_CLIENTEDGE));
    SetLayeredWindowAttributes(window_, kSkinMagenta, 255, LWA_COLORKEY | LWA_ALPHA);
    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, DWORD(GetWindowLongPtrW(window_, GWL_STYLE)), FALSE,
                       DWORD(GetWindowLongPtrW(window_, GWL_EXSTYLE)));
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    SetWindowPos(window_, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height,
                 SWP_NOZORDER | SWP_FRAMECHANGED);
    SetFocus(window_);
    progress_ = ProgressTracker(GetTickCount());

    SetLauncherIcons(window_, instance_);

    // The news page is a courtesy: without a browser engine the area shows the skin.
    news_.Create(window_, ChildRect(window_, Control(kMainNews)));
    ShowWindow(Control(kMainNews), SW_HIDE);
    news_.Navigate(LoadConfigText(kConfigNewsPageUrl));

    wchar_t current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, current);
    updater_.SetBaseDirectory(current);
    updater_.SetOwner(this);

    HDC screen = GetDC(window_);
    background_.Reset(HBITMAP(LoadImageW(instance_, MAKEINTRESOURCEW(kBitmapBackground), IMAGE_BITMAP, 0, 0,
                                         LR_CREATEDIBSECTION)));
    background_dc_ = std::make_unique<MemoryDc>(screen);
    if (background_) background_previous_ = SelectObject(background_dc_->Get(), background_.Get());
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = kScratchSize;
    info.bmiHeader.biHeight = -kScratchSize;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    scratch_.Reset(CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    scratch_dc_ = std::make_unique<MemoryDc>(screen);
    if (scratch_) scratch_previous_ = SelectObject(scratch_dc_->Get(), scratch_.Get());
    SetBkMode(scratch_dc_->Get(), TRANSPARENT);
    SelectObject(scratch_dc_->Get(), HFONT(SendMessageW(window_, WM_GETFONT, 0, 0)));
    ReleaseDC(window_, screen);

    progress_fill_.Reset(HBITMAP(LoadImageW(instance_, MAKEINTRESOURCEW(kBitmapProgressFill), IMAGE_BITMAP, 0, 0,
                                            LR_CREATEDIBSECTION)));
    progress_track_.Reset(HBITMAP(LoadImageW(instance_, MAKEINTRESOURCEW(kBitmapProgressTrack), IMAGE_BITMAP, 0,
                                             0, LR_CREATEDIBSECTION)));
    for (int bar : {kMainOverallBar, kMainFileBar}) {
        SendMessageW(Control(bar), PBM_SETRANGE32, 0, kProgressBarRange);
        SetWindowSubclass(Control(bar), ControlProc, 0, DWORD_PTR(this));
    }
    for (int id : kTransparentStatics) SetWindowSubclass(Control(id), ControlProc, 0, DWORD_PTR(this));
    SetWindowSubclass(Control(kMainRealmList), ControlProc, 0, DWORD_PTR(this));
    SetWindowSubclass(Control(kMainServerList), ControlProc, 0, DWORD_PTR(this));
    SendMessageW(Control(kMainServerList), LB_ADDSTRING, 0, LPARAM(L" "));

    close_button_.Attach(window_, kMainClose, instance_, kBitmapCloseButton, 41);
    minimise_button_.Attach(window_, kMainMinimise, instance_, kBitmapMinimiseButton, 40);
    home_button_.Attach(window_, kMainHome, instance_, kBitmapHomePageButton, 97);
    patch_button_.Attach(window_, kMainPatch, instance_, kBitmapPatchButton, 97);
    account_button_.Attach(window_, kMainAccount, instance_, kBitmapAccountButton, 97);
    settings_button_.Attach(window_, kMainSettings, instance_, kBitmapSettingsButton, 97);
    plus_button_.Attach(window_, kMainPlus, instance_, kBitmapPlusButton, 30);
    main_button_.Attach(window_, kMainButton, instance_, kBitmapMainUpdate, 135);

    templates_.checking = LoadResString(kStringCheckingFiles);
    templates_.overall = LoadResString(kStringOverallProgress);
    templates_.unpacking = LoadResString(kStringUnpacking);
    templates_.downloading = LoadResString(kStringDownloading);

    SetTimer(window_, kTimerProgress, kProgressPeriodMs, nullptr);
    SetTimer(window_, kTimerServerList, kServerListPeriodMs, nullptr);

    updater_.SetDownloadManager(&manager_);
    SetButtonMode(kModeUpdate, true);
    refresh_ = std::make_unique<TServerListRefresh>(store_, this, LoadConfigText(kConfigServerListUrl),
                                                    LoadConfigText(kConfigCreateAccountUrl));
    refresh_->Start();
    OnMainButton();

    InvalidateRect(window_, nullptr, TRUE);
    ShowLocalVersion();
    SetWindowPos(window_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void CMainDlg::ShowLocalVersion() {
    std::wstring version;
    SetTransparentText(kMainLocalVersion,
                       std::wstring(L"本地版本") + (ReadGameVersion(kLocalVersionIni, version) ? version : L"Unknown"));
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
        if (code == BN_CLICKED) {
            std::wstring perf_switch, engine;
            GameSettingsPaths(perf_switch, engine);
            GameConfigDlg dialog(perf_switch, engine);
            HWND owner = GetActiveWindow();
            dialog.DoModal(owner ? owner : window_);
        }
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
    main_button_.SetImages(LoadImageStrip(instance_, face, 135, kSkinMagenta));
    EnableWindow(Control(kMainRepair), repair_enabled);
    InvalidateRect(Control(kMainButton), nullptr, TRUE);
    InvalidateRect(Control(kMainServerList), nullptr, TRUE);
    EnableWindow(Control(kMainButton), enable);
}

void CMainDlg::OnMainButton() {
    if (mode_ == kModePlay) {
        GameLaunchInputs inputs;
        inputs.game_executable = LoadConfigText(kConfigGameExecutable);
        inputs.fixed_arguments = LoadConfigText(kConfigGameArguments);
        inputs.process_command_line = GetCommandLineW();
        // A failure has been shown to the player by the game start itself.
        LaunchGame(store_, inputs, *this);
        return;
    }
    if (mode_ == kModeCancel) {
        SetButtonMode(kModeCancel, false);
        CancelRun(kCancelWaitMs);
        SetButtonMode(kModeUpdate, true);
        return;
    }
    SetButtonMode(kModeCancel, true);
    PrepareRun();
    update_thread_.Start(0);
}

void CMainDlg::OnUpdateFinished(int result) {
    LauncherLog& log = LauncherLog::Instance();
    if (result == kUpdateSucceeded) {
        const std::wstring done = LoadResString(kStringUpdateDone);
        log.Write(L"%ls\n", done.c_str());
        SetTransparentText(kMainStatusLine, done);
        SetButtonMode(kModePlay, true);
        SendMessageW(Control(kMainOverallBar), PBM_SETPOS, 0, 0);
        SendMessageW(Control(kMainFileBar), PBM_SETPOS, 0, 0);
        ShowLocalVersion();
        return;
    }
    if (result == kUpdateFailed) {
        const std::wstring failed = LoadResString(kStringUpdateFailed);
        log.Write(L"%ls\n", failed.c_str());
        SetTransparentText(kMainStatusLine, failed);
        std::vector<std::wstring> errors = updater_.GetErrors();
        if (!errors.empty()) {
            PostLauncherReport(L"update_failed", L"");
            std::vector<std::wstring> roots = updater_.UrlRoots();
            std::wstring address = roots.empty() ? updater_.LauncherUrl() : roots.front();
            // A list that never arrived names no server; the one that failed to send it
            // is the one worth showing.
            if (address.empty()) address = options_.file_list_url;
            // The host without its port: "host:8080" resolves to nothing.
            UrlEndpoint endpoint;
            errors.push_back(L"Server IP: " + (SplitUrl(address, &endpoint) ? ResolveHostIp(endpoint.host) : L""));
            ErrorResultDlg dialog(errors, LoadConfigText(kConfigFileListUrl), LoadConfigText(kConfigPatchPageUrl));
            dialog.DoModal(window_);
        } else {
            MessageBoxW(window_, failed.c_str(), L"Error", MB_OK);
        }
        SetButtonMode(kModeUpdate, true);
        return;
    }
    if (result == kUpdateLauncherReplaced) {
        // The replacement script waits for this process to end.
        closing_ = true;
        DestroyWindow(window_);
        PostQuitMessage(1);
    }
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

void CMainDlg::OnServerListRebuilt(size_t) {
    if (window_) PostMessageW(window_, UM_SERVER_LIST_REBUILT, 0, 0);
}

void CMainDlg::ShowChoiceHints() {
    ShowRealmHint(!RealmChosen());
    ShowServerHints(!ServerChosen());
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
    CancelRun(kCloseWaitMs);
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
    if (background_dc_ && background_previous_) SelectObject(background_dc_->Get(), background_previous_);
    if (scratch_dc_ && scratch_previous_) SelectObject(scratch_dc_->Get(), scratch_previous_);
}

void CMainDlg::FillListsFromStore() {
    HWND realms = Control(kMainRealmList);
    RememberedChoice choice;
    {
        ServerListStore::Reader reader = store_.Read();
        choice = reader.choice();
        SendMessageW(realms, CB_RESETCONTENT, 0, 0);
        const std::vector<RealmEntry>& entries = reader.model().realms();
        for (size_t i = 0; i < entries.size(); ++i) {
            const LRESULT item = SendMessageW(realms, CB_ADDSTRING, 0, LPARAM(entries[i].name.c_str()));
            if (item >= 0) SendMessageW(realms, CB_SETITEMDATA, WPARAM(item), LPARAM(i));
        }
    }
    realm_index_ = choice.realm_index;
    SendMessageW(realms, CB_SETCURSEL, WPARAM(realm_index_), 0);
    ShowRealmHint(realm_index_ < 0);
    FillServerList(choice.server_index);
    SetTransparentText(kMainRealmCopy, realm_index_ >= 0 ? WindowText(realms) : L"");
    UpdateSelectionText();
    InvalidateRect(realms, nullptr, TRUE);
}

void CMainDlg::FillServerList(int server_to_select) {
    HWND list = Control(kMainServerList);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    ServerListStore::Reader reader = store_.Read();
    const std::vector<RealmEntry>& realms = reader.model().realms();
    if (realm_index_ < 0 || size_t(realm_index_) >= realms.size()) return;
    const std::vector<ServerRecord>& servers = realms[size_t(realm_index_)].servers;
    for (size_t i = 0; i < servers.size(); ++i) {
        const LRESULT item = SendMessageW(list, LB_ADDSTRING, 0, LPARAM(servers[i].server_name.c_str()));
        if (item >= 0) SendMessageW(list, LB_SETITEMDATA, WPARAM(item), LPARAM(i));
    }
    if (server_to_select >= 0) SendMessageW(list, LB_SETCURSEL, WPARAM(server_to_select), 0);
    InvalidateRect(list, nullptr, TRUE);
}

void CMainDlg::OnRealmChange() {
    HWND realms = Control(kMainRealmList);
    const LRESULT selected = SendMessageW(realms, CB_GETCURSEL, 0, 0);
    realm_index_ = selected == CB_ERR ? -1 : int(SendMessageW(realms, CB_GETITEMDATA, WPARAM(selected), 0));
    store_.SelectRealm(realm_index_);
    ShowRealmHint(realm_index_ < 0);
    FillServerList(-1);
    SetTransparentText(kMainRealmCopy, WindowText(realms));
    UpdateSelectionText();
    InvalidateRect(realms, nullptr, TRUE);
    ShowServerHints(server_hints_wanted_ ? !ServerChosen() : false);
}

void CMainDlg::OnServerChange() {
    HWND list = Control(kMainServerList);
    const LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
    const int server = selected == LB_ERR ? -1 : int(SendMessageW(list, LB_GETITEMDATA, WPARAM(selected), 0));
    store_.SelectServer(server);
    ShowServerHints(!ServerChosen());
    SetTransparentText(kMainOnlineVersion, L"线上版本" + store_.ChosenServer().client_version);
    InvalidateRect(list, nullptr, FALSE);
    UpdateSelectionText();
}

void CMainDlg::UpdateSelectionText() { SetTransparentText(kMainSelection, store_.ChosenServer().server_name); }

bool CMainDlg::RealmChosen() const {
    HWND realms = Control(kMainRealmList);
    return SendMessageW(realms, CB_GETCOUNT, 0, 0) > 0 && SendMessageW(realms, CB_GETCURSEL, 0, 0) != CB_ERR;
}

bool CMainDlg::ServerChosen() const {
    HWND list = Control(kMainServerList);
    return SendMessageW(list, LB_GETCOUNT, 0, 0) > 0 && SendMessageW(list, LB_GETCURSEL, 0, 0) != LB_ERR;
}

void CMainDlg::ShowRealmHint(bool show) { realm_hint_.Show(show); }

void CMainDlg::ShowServerHints(bool wanted) {
    server_hints_wanted_ = wanted;
    const bool show = wanted && RealmChosen();
    server_arrow_hint_.Show(show);
    server_frame_hint_.Show(show);
}

void CMainDlg::SetTransparentText(int control_id, const std::wstring& text) {
    HWND control = Control(control_id);
    if (!control) return;
    SetWindowTextW(control, text.c_str());
    // The old text must not show through the new one: the control's background comes
    // back from the skin before it paints.
    RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void CMainDlg::PaintBackground(HWND control, HDC dc) {
    if (!background_dc_ || !background_) return;
    RECT client{};
    GetClientRect(control, &client);
    POINT origin{0, 0};
    if (control != window_) MapWindowPoints(control, window_, &origin, 1);
    BitBlt(dc, 0, 0, client.right, client.bottom, background_dc_->Get(), origin.x, origin.y, SRCCOPY);
}

void CMainDlg::PaintProgressBar(HWND bar, HDC dc) {
    RECT client{};
    GetClientRect(bar, &client);
    MemoryDc source(dc);
    if (progress_track_) {
        HGDIOBJ previous = SelectObject(source.Get(), progress_track_.Get());
        BitBlt(dc, 0, 0, client.right, client.bottom, source.Get(), 0, 0, SRCCOPY);
        SelectObject(source.Get(), previous);
    }
    const LRESULT position = SendMessageW(bar, PBM_GETPOS, 0, 0);
    const LRESULT maximum = SendMessageW(bar, PBM_GETRANGE, FALSE, 0);
    if (progress_fill_ && maximum > 0 && position > 0) {
        const int width = int(int64_t(client.right) * position / maximum);
        HGDIOBJ previous = SelectObject(source.Get(), progress_fill_.Get());
        BitBlt(dc, 0, 0, width, client.bottom, source.Get(), 0, 0, SRCCOPY);
        SelectObject(source.Get(), previous);
    }
}

void CMainDlg::PaintRealmPlaceholder(HWND list) {
    if (SendMessageW(list, CB_GETCOUNT, 0, 0) > 0 && SendMessageW(list, CB_GETCURSEL, 0, 0) != CB_ERR) return;
    HDC dc = GetDC(list);
    HGDIOBJ previous = SelectObject(dc, HFONT(SendMessageW(window_, WM_GETFONT, 0, 0)));
    SetBkMode(dc, TRANSPARENT);
    const std::wstring text = LoadResString(kStringChooseRealm);
    TextOutW(dc, 3, 4, text.c_str(), int(text.size()));
    SelectObject(dc, previous);
    ReleaseDC(list, dc);
}

void CMainDlg::DrawServerRow(const DRAWITEMSTRUCT& item) {
    if (!scratch_dc_ || int(item.itemID) < 0) return;
    HDC scratch = scratch_dc_->Get();
    const RECT& row = item.rcItem;
    const int width = std::min<int>(row.right - row.left, kScratchSize);
    const int height = std::min<int>(row.bottom - row.top, kScratchSize);
    // The skin behind the row first, so that the frames' magenta parts show it.
    POINT origin{row.left, row.top};
    MapWindowPoints(item.hwndItem, window_, &origin, 1);
    if (background_dc_) BitBlt(scratch, 0, 0, width, height, background_dc_->Get(), origin.x, origin.y, SRCCOPY);

    POINT cursor{};
    GetCursorPos(&cursor);
    ScreenToClient(item.hwndItem, &cursor);
    const bool hover = cursor.x > row.left && cursor.x < row.right - 1 && cursor.y > row.top && cursor.y < row.bottom - 1;
    const int frame = (item.itemState & ODS_SELECTED) ? 2 : hover ? 1 : 0;
    if (row_frames_) ImageList_Draw(row_frames_.Get(), frame, scratch, 0, 0, ILD_TRANSPARENT);

    ServerRecord record;
    {
        ServerListStore::Reader reader = store_.Read();
        const std::vector<RealmEntry>& realms = reader.model().realms();
        const size_t server = size_t(item.itemData);
        if (realm_index_ >= 0 && size_t(realm_index_) < realms.size() &&
            server < realms[size_t(realm_index_)].servers.size())
            record = realms[size_t(realm_index_)].servers[server];
    }
    if (!record.server_name.empty()) {
        if (status_icons_)
            ImageList_Draw(status_icons_.Get(), StatusIconFrame(record.load_code, record.state_code), scratch,
                           kStatusIconX, kRowTextY, ILD_TRANSPARENT);
        int icon_width = 0, icon_height = 0;
        if (status_icons_) ImageList_GetIconSize(status_icons_.Get(), &icon_width, &icon_height);
        SetTextColor(scratch, kSkinTextColour);
        TextOutW(scratch, icon_width + kStatusIconX, kRowTextY, record.server_name.c_str(),
                 int(record.server_name.size()));
        const int badge = BadgeFrame(record.first_badge_flag, record.second_badge_flag, GetTickCount());
        if (badge >= 0 && badges_) ImageList_Draw(badges_.Get(), badge, scratch, kBadgeX, kRowTextY, ILD_TRANSPARENT);
    }
    BitBlt(item.hDC, row.left, row.top, width, height, scratch, 0, 0, SRCCOPY);
}

LRESULT CALLBACK CMainDlg::ControlProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                       DWORD_PTR self) {
    return reinterpret_cast<CMainDlg*>(self)->HandleControlMessage(window, message, wparam, lparam);
}

LRESULT CMainDlg::HandleControlMessage(HWND control, UINT message, WPARAM wparam, LPARAM lparam) {
    const int id = GetDlgCtrlID(control);
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(control, ControlProc, 0);
        return DefSubclassProc(control, message, wparam, lparam);
    }
    if (id == kMainOverallBar || id == kMainFileBar) {
        if (message == WM_ERASEBKGND) return 1;
        if (message == WM_PAINT) {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(control, &paint);
            PaintProgressBar(control, dc);
            EndPaint(control, &paint);
            return 0;
        }
        return DefSubclassProc(control, message, wparam, lparam);
    }
    if (id == kMainRealmList) {
        const LRESULT result = DefSubclassProc(control, message, wparam, lparam);
        if (message == WM_PAINT) PaintRealmPlaceholder(control);
        return result;
    }
    if (id == kMainServerList) {
        switch (message) {
        case WM_ERASEBKGND:
            PaintBackground(control, reinterpret_cast<HDC>(wparam));
            return 1;
        case WM_PAINT:
            if (SendMessageW(control, LB_GETCOUNT, 0, 0) == 0) {
                ValidateRect(control, nullptr);
                return 0;
            }
            break;
        case WM_MOUSEMOVE:
            InvalidateRect(control, nullptr, FALSE);
            break;
        case WM_MOUSEWHEEL:
        case WM_VSCROLL: {
            const LRESULT result = DefSubclassProc(control, message, wparam, lparam);
            InvalidateRect(control, nullptr, TRUE);
            return result;
        }
        default:
            break;
        }
        return DefSubclassProc(control, message, wparam, lparam);
    }
    // The transparent statics.
    if (message == WM_ERASEBKGND) {
        PaintBackground(control, reinterpret_cast<HDC>(wparam));
        return 1;
    }
    return DefSubclassProc(control, message, wparam, lparam);
}

}  // namespace velm
