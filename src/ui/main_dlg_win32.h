#pragma once
// CMainDlg: the skinned window the player sees in normal operation. It owns the update
// run of this program run (started as soon as the window exists), shows its progress once
// a second, turns its main button into the game start when the run succeeds, hosts the
// server list refresh, the game start, the settings dialog, the hint windows and the
// statistics events of the window.
//
// Threads: as UpdateRunWindow (the UI thread may itself be waiting for a worker to stop);
// the server list refresh calls OnServerListRebuilt from its fetch thread.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/launcher_window_win32.h"
#include "common/gdi_win32.h"
#include "services/game_launch_win32.h"
#include "services/server_list_refresh_win32.h"
#include "services/server_list_store_win32.h"
#include "ui/skin_button_win32.h"
#include "ui/tip_window_win32.h"
#include "ui/update_run_window_win32.h"
#include "ui/web_browser_win32.h"

namespace velm {

class CMainDlg : public LauncherWindow,
                 public UpdateRunWindow,
                 public TServerListView,
                 public TGameLaunchWindow {
public:
    enum ButtonMode : int32_t { kModeUpdate = 0, kModePlay = 1, kModeCancel = 2 };

    explicit CMainDlg(const UpdateOptions& options);
    ~CMainDlg() override;
    CMainDlg(const CMainDlg&) = delete;
    CMainDlg& operator=(const CMainDlg&) = delete;

    // Creates the window, which starts the update run and the server list refresh at
    // once. False when the window cannot be created.
    bool Create(HINSTANCE instance);
    HWND Handle() const override { return window_; }
    // The message loop's filter: keyboard navigation of the dialog.
    bool PreTranslateMessage(MSG& message) override { return TranslateDialogMessage(message); }

    // TServerListView (fetch thread)
    void OnServerListRebuilt(size_t realm_count) override;

    // TGameLaunchWindow
    void ShowChoiceHints() override;
    void ShowLaunchMessage(int string_id, const wchar_t* caption) override;
    void CloseAfterLaunch() override;

private:
    // The window and its dispatch (main_dlg_win32.cpp).
    INT_PTR HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
    void OnCommand(int id, int code);
    void OnTimer(UINT_PTR id);
    void OpenPage(int config_text_id);
    void OpenGameSettings();
    void OnCloseButton();
    void OnClose();
    void CloseNow() override;
    void OnDestroy();
    HWND Control(int id) const { return GetDlgItem(window_, id); }

    // Creation of the controls and the skin (main_dlg_layout_win32.cpp).
    void OnInitDialog();
    void CreateHints();
    void MakeSkinnedFrame();
    void OpenNewsPage();
    void PrepareUpdater();
    void LoadSkin();
    void SubclassControls();
    void AttachSkinButtons();
    void StartTimers();

    // Painting over the skin (main_dlg_paint_win32.cpp).
    static LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                        UINT_PTR id, DWORD_PTR self);
    LRESULT HandleControlMessage(HWND control, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT ProgressBarMessage(HWND bar, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT ServerListMessage(HWND list, UINT message, WPARAM wparam, LPARAM lparam);
    INT_PTR ControlColour(UINT message, HDC dc);
    void SetTransparentText(int control_id, const std::wstring& text);
    void PaintBackground(HWND control, HDC dc);
    void PaintProgressBar(HWND bar, HDC dc);
    void PaintRealmPlaceholder(HWND list);
    // The server list's rows; FALSE for items of other controls.
    INT_PTR MeasureServerRow(MEASUREITEMSTRUCT& measure);
    INT_PTR DrawServerRow(const DRAWITEMSTRUCT& item);
    void ComposeServerRow(const DRAWITEMSTRUCT& item);

    // The realm and server lists, the choice and its hints (main_dlg_servers_win32.cpp).
    void FillListsFromStore();
    void FillServerList(int server_to_select);
    void OnRealmChange();
    void OnServerChange();
    void UpdateSelectionText();
    void ShowRealmHint(bool show);
    void ShowServerHints(bool wanted);
    bool RealmChosen() const;
    bool ServerChosen() const;
    // The record of a server of the chosen realm; empty when there is no such server.
    ServerRecord ServerOfChosenRealm(size_t server);

    // The main button and the update run's outcome (main_dlg_run_win32.cpp).
    void SetButtonMode(int32_t mode, bool enable);
    void OnMainButton();
    void StartGame();
    void OnUpdateFinished(int result) override;
    void OnUpdateSucceeded();
    void OnUpdateFailed();
    void ShowRunErrors(std::vector<std::wstring> errors);
    void ShowStatusLine(const std::wstring& text) override;
    void RefreshProgressNow();
    void ShowLocalVersion();

    ServerListStore store_;
    std::unique_ptr<TServerListRefresh> refresh_;
    WebBrowserHost news_;

    CSkinButton main_button_, close_button_, minimise_button_, home_button_, patch_button_,
        account_button_, settings_button_, plus_button_;
    CTipWindow realm_hint_, server_arrow_hint_, server_frame_hint_;
    UniqueImageList status_icons_, badges_, row_frames_;

    // The skin the window and its controls paint from, and the scratch surface a server
    // row is composed on (with the window's font) before it reaches the screen.
    std::unique_ptr<BitmapDc> background_;
    std::unique_ptr<BitmapDc> scratch_;
    std::optional<ScopedSelect> scratch_font_;
    UniqueBitmap progress_fill_, progress_track_;

    int32_t mode_ = kModeUpdate;
    int realm_index_ = -1;
    bool server_hints_wanted_ = false;
    bool closing_ = false;
};

// The statistics event of the close button in each mode of the main button.
const wchar_t* CloseEventForMode(int32_t mode);

}  // namespace velm
