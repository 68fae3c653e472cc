#pragma once
// CUpdateDlg: the plain window of package mode. The executable carries an offline update
// package; this window opens it, finds the game installation (the registry record, or a
// folder the player picks) and checks that its client version is one the package accepts,
// then applies the package with an update run, shows its progress once a second and ends
// the program when the run succeeds. A failed run shows its errors and leaves the window
// open until the player closes it.
//
// Threads: every window operation runs on the UI thread. The update run and the download
// engine reach the window through CDlgBase from their own threads: AddDoneBytes,
// SetTotalBytes and GetTotalBytes touch counters only, and SetStatusText, RefreshProgress
// and PostNotify post to the window, so a worker never waits for the UI thread.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "app/startup_win32.h"
#include "download/dlg_base_win32.h"
#include "download/download_manager_win32.h"
#include "download/sync_win32.h"
#include "ui/modeless_dialog_win32.h"
#include "ui/progress_display.h"
#include "update/client_updater_win32.h"
#include "update/update_thread_win32.h"

namespace velm {

class CUpdateDlg : public LauncherWindow, public CDlgBase, private ModelessDialog {
public:
    CUpdateDlg();
    ~CUpdateDlg() override;
    CUpdateDlg(const CUpdateDlg&) = delete;
    CUpdateDlg& operator=(const CUpdateDlg&) = delete;

    // Creates the window and opens the package carried by this executable. False when the
    // window cannot be created or the package is damaged (the player has been told).
    bool Create(HINSTANCE instance);
    HWND Handle() const override { return window_; }
    bool PreTranslateMessage(MSG& message) override { return TranslateDialogMessage(message); }

    // CDlgBase
    void Notify(int32_t) override {}
    CSTDownloadManager* GetDownloadManager() override { return &manager_; }
    TJobFinishedHandler* GetUpdater() override { return &updater_; }
    void RefreshProgress() override;
    void AddDoneBytes(TDownloadJobBase* job, int64_t delta) override;
    int64_t GetTotalBytes() override { return total_bytes_.load(); }
    void SetTotalBytes(int64_t total) override { total_bytes_.store(total); }
    // There is no server list in package mode.
    void OnServerListText(int32_t, int32_t, const std::wstring&) override {}
    void SetStatusText(const std::wstring& text) override;
    void PostNotify(uint32_t message, uintptr_t first, intptr_t second) override;
    int32_t QueryFlag() override { return 0; }

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
    void OnUpdateFinished(int result);
    void RefreshProgressNow();
    void OnClose();
    void OnDestroy();
    void EndProgram();
    HWND Control(int id) const { return GetDlgItem(window_, id); }

    HINSTANCE instance_ = nullptr;
    DWORD ui_thread_ = 0;

    CSTDownloadManager manager_;
    TClientUpdater updater_;
    UpdateThread update_thread_;

    CriticalSection done_lock_;
    int64_t done_bytes_ = 0;
    std::atomic<int64_t> total_bytes_{0};
    ProgressTracker progress_;
    ProgressTemplates templates_;
    ProgressDisplay shown_;
    bool closing_ = false;
};

}  // namespace velm
