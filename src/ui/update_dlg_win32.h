#pragma once
// CUpdateDlg: the plain window of package mode. The executable carries an offline update
// package; this window opens it, finds the game installation (the registry record, or a
// folder the player picks) and checks that its client version is one the package accepts,
// then applies the package with an update run, shows its progress once a second and ends
// the program when the run succeeds. A failed run shows its errors and leaves the window
// open until the player closes it.
//
// Threads: as UpdateRunWindow.
#include <windows.h>

#include <string>
#include <vector>

#include "ui/launcher_window_win32.h"
#include "ui/update_run_window_win32.h"

namespace velm {

class CUpdateDlg : public LauncherWindow, public UpdateRunWindow {
public:
    // package_offset is where the package starts in this executable (its marker).
    CUpdateDlg(const UpdateOptions& options, int64_t package_offset)
        : UpdateRunWindow(options), package_offset_(package_offset) {}
    ~CUpdateDlg() override;
    CUpdateDlg(const CUpdateDlg&) = delete;
    CUpdateDlg& operator=(const CUpdateDlg&) = delete;

    // Creates the window and opens the package carried by this executable. False when the
    // window cannot be created or the package is damaged (the player has been told).
    bool Create(HINSTANCE instance);
    HWND Handle() const override { return window_; }
    bool PreTranslateMessage(MSG& message) override { return TranslateDialogMessage(message); }

private:
    INT_PTR HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;

    void OnInitDialog();
    // Finds an acceptable installation and starts the run; ends the program when the
    // player cancels the folder choice.
    void BeginUpdate();
    // False when the player cancelled.
    bool ChooseInstallation(std::wstring& folder);
    bool BrowseForFolder(std::wstring& folder);
    void ShowFolderProblem(int check, const std::wstring& folder, const std::vector<std::wstring>& accepted);
    void OnUpdateFinished(int result) override;
    void ShowStatusLine(const std::wstring& text) override;
    void RefreshProgressNow();
    void OnClose();
    void OnDestroy();
    void CloseNow() override;
    HWND Control(int id) const { return GetDlgItem(window_, id); }

    const int64_t package_offset_;
    bool closing_ = false;
};

}  // namespace velm
