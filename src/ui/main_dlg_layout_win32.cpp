// The main window as it opens: the hints, the borderless skinned frame, the news page, the
// updater's settings, the skin surfaces, the controls that paint over the skin, the skinned
// buttons and the timers; then the update run and the server list refresh start.
#include "ui/main_dlg_win32.h"

#include <commctrl.h>

#include "common/config_text_ids.h"
#include "common/string_ids.h"
#include "common/resource_text_win32.h"
#include "ui/image_strip_win32.h"
#include "ui/main_dlg_parts_win32.h"
#include "ui/top_window_win32.h"
#include "ui/ui_ids.h"

namespace velm {

using namespace main_dlg;

namespace {

// The window's client area is the background bitmap.
constexpr int kClientWidth = 746;
constexpr int kClientHeight = 580;
constexpr UINT kProgressPeriodMs = 1000;
constexpr UINT kServerListPeriodMs = 100;

// Where the blinking hints sit, from the client origin: beside the realm drop-down, and the
// arrow and the frame that point at the server list.
constexpr POINT kRealmHintAt{559, 31};
constexpr POINT kServerArrowHintAt{488, 104};
constexpr POINT kServerFrameHintAt{558, 102};

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

UniqueBitmap LoadSkinBitmap(HINSTANCE instance, int bitmap_id) {
    return UniqueBitmap(
        HBITMAP(LoadImageW(instance, MAKEINTRESOURCEW(bitmap_id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
}

// A top-down 32-bit surface of kScratchSize square.
UniqueBitmap CreateScratchBitmap(HDC compatible_with) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = kScratchSize;
    info.bmiHeader.biHeight = -kScratchSize;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    return UniqueBitmap(CreateDIBSection(compatible_with, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
}

}  // namespace

void CMainDlg::OnInitDialog() {
    // Hints first: they are placed relative to the window as it ends up.
    CreateHints();
    MakeSkinnedFrame();
    SetFocus(window_);
    progress_ = ProgressTracker(GetTickCount());
    SetLauncherIcons(window_, instance_);
    OpenNewsPage();
    PrepareUpdater();
    LoadSkin();
    SubclassControls();
    AttachSkinButtons();

    templates_.checking = LoadResString(kStringCheckingFiles);
    templates_.overall = LoadResString(kStringOverallProgress);
    templates_.unpacking = LoadResString(kStringUnpacking);
    templates_.downloading = LoadResString(kStringDownloading);
    StartTimers();

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

void CMainDlg::CreateHints() {
    realm_hint_.Create(window_, instance_, kBitmapHintRealm, kHintRealmFrameWidth, kRealmHintAt);
    server_arrow_hint_.Create(window_, instance_, kBitmapHintArrow, kHintArrowFrameWidth, kServerArrowHintAt);
    server_frame_hint_.Create(window_, instance_, kBitmapHintServers, kHintServersFrameWidth, kServerFrameHintAt);
    status_icons_ = LoadImageStrip(instance_, kBitmapServerStatus, kServerStatusFrameWidth, kSkinMagenta);
    badges_ = LoadImageStrip(instance_, kBitmapServerBadges, kServerBadgeFrameWidth, kSkinMagenta);
    row_frames_ = LoadImageStrip(instance_, kBitmapServerRows, kRowWidth, kSkinMagenta);
}

// No caption or border, magenta see-through, the client area the size of the skin, in the
// middle of the screen.
void CMainDlg::MakeSkinnedFrame() {
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
}

// The news page is a courtesy: without a browser engine the area shows the skin.
void CMainDlg::OpenNewsPage() {
    news_.Create(window_, ChildRect(window_, Control(kMainNews)));
    ShowWindow(Control(kMainNews), SW_HIDE);
    news_.Navigate(LoadConfigText(kConfigNewsPageUrl));
}

void CMainDlg::PrepareUpdater() {
    wchar_t current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, current);
    updater_.SetBaseDirectory(current);
    updater_.SetOwner(this);
}

void CMainDlg::LoadSkin() {
    {
        WindowDc screen(window_);
        background_ = std::make_unique<BitmapDc>(screen.Get(), LoadSkinBitmap(instance_, kBitmapBackground));
        scratch_ = std::make_unique<BitmapDc>(screen.Get(), CreateScratchBitmap(screen.Get()));
        SetBkMode(scratch_->Get(), TRANSPARENT);
        scratch_font_.emplace(scratch_->Get(), HFONT(SendMessageW(window_, WM_GETFONT, 0, 0)));
    }
    progress_fill_ = LoadSkinBitmap(instance_, kBitmapProgressFill);
    progress_track_ = LoadSkinBitmap(instance_, kBitmapProgressTrack);
}

// The progress bars, the statics over the skin and the two lists paint through ControlProc.
void CMainDlg::SubclassControls() {
    for (int bar : {kMainOverallBar, kMainFileBar}) {
        SendMessageW(Control(bar), PBM_SETRANGE32, 0, kProgressBarRange);
        SetWindowSubclass(Control(bar), ControlProc, 0, DWORD_PTR(this));
    }
    for (int id : kTransparentStatics) SetWindowSubclass(Control(id), ControlProc, 0, DWORD_PTR(this));
    SetWindowSubclass(Control(kMainRealmList), ControlProc, 0, DWORD_PTR(this));
    SetWindowSubclass(Control(kMainServerList), ControlProc, 0, DWORD_PTR(this));
    SendMessageW(Control(kMainServerList), LB_ADDSTRING, 0, LPARAM(L" "));
}

void CMainDlg::AttachSkinButtons() {
    struct SkinnedButton {
        CSkinButton CMainDlg::*button;
        int control_id;
        int bitmap_id;
        int frame_width;
    };
    // The main button starts with its update face; SetButtonMode changes it.
    static constexpr SkinnedButton kButtons[] = {
        {&CMainDlg::close_button_, kMainClose, kBitmapCloseButton, kCloseButtonFrameWidth},
        {&CMainDlg::minimise_button_, kMainMinimise, kBitmapMinimiseButton, kMinimiseButtonFrameWidth},
        {&CMainDlg::home_button_, kMainHome, kBitmapHomePageButton, kPageButtonFrameWidth},
        {&CMainDlg::patch_button_, kMainPatch, kBitmapPatchButton, kPageButtonFrameWidth},
        {&CMainDlg::account_button_, kMainAccount, kBitmapAccountButton, kPageButtonFrameWidth},
        {&CMainDlg::settings_button_, kMainSettings, kBitmapSettingsButton, kPageButtonFrameWidth},
        {&CMainDlg::plus_button_, kMainPlus, kBitmapPlusButton, kPlusButtonFrameWidth},
        {&CMainDlg::main_button_, kMainButton, kBitmapMainUpdate, kMainButtonFrameWidth},
    };
    for (const SkinnedButton& spec : kButtons)
        (this->*spec.button).Attach(window_, spec.control_id, instance_, spec.bitmap_id, spec.frame_width);
}

void CMainDlg::StartTimers() {
    SetTimer(window_, kTimerProgress, kProgressPeriodMs, nullptr);
    SetTimer(window_, kTimerServerList, kServerListPeriodMs, nullptr);
}

}  // namespace velm
