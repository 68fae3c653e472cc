#include "ui/update_dlg_win32.h"

#include <commctrl.h>
#include <shlobj.h>

#include <memory>
#include <vector>

#include "common/config_text_ids.h"
#include "common/string_ids.h"
#include "common/resource_text_win32.h"
#include "game/game_folder_win32.h"
#include "common/log.h"
#include "ui/error_result_dlg_win32.h"
#include "ui/top_window_win32.h"
#include "ui/ui_ids.h"

namespace velm {
namespace {

constexpr UINT kProgressPeriodMs = 1000;
constexpr UINT UM_BEGIN_UPDATE = kFirstWindowOwnMessage;
// The message boxes of this window have an empty title bar.
constexpr const wchar_t* kNoCaption = L"";

struct CoTaskMemDeleter {
    void operator()(void* memory) const { CoTaskMemFree(memory); }
};

std::wstring ProgramPath() {
    std::vector<wchar_t> path(32768);
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    return length > 0 && length < path.size() ? std::wstring(path.data(), length) : L"";
}

// The registry keeps the folder with a trailing backslash; the update run and the client
// check append their own. A drive's root keeps its backslash.
std::wstring WithoutTrailingSeparator(std::wstring folder) {
    while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    return folder;
}

std::wstring InstalledVersion(const std::wstring& folder) {
    std::wstring version;
    ReadGameVersion(folder + L"\\VelmGame\\Config\\DefaultGame.ini", version);
    return version.empty() ? L"Unknown" : version;
}

}  // namespace

CUpdateDlg::~CUpdateDlg() {
    if (window_) DestroyWindow(window_);
    EndRun();
}

bool CUpdateDlg::Create(HINSTANCE instance) {
    // A damaged package ends the window during its initialisation: no handle comes back.
    return CreateRunWindow(instance, kDialogUpdate) != nullptr;
}

INT_PTR CUpdateDlg::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    if (HandleRunMessage(message, wparam, lparam)) return TRUE;
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog();
        return TRUE;
    case WM_COMMAND:
        // No buttons: Enter and Escape do nothing.
        return TRUE;
    case WM_TIMER:
        if (wparam == kTimerProgress) RefreshProgressNow();
        return TRUE;
    case WM_CLOSE:
        OnClose();
        return TRUE;
    case WM_DESTROY:
        OnDestroy();
        return FALSE;
    case UM_BEGIN_UPDATE:
        BeginUpdate();
        return TRUE;
    default:
        return FALSE;
    }
}

void CUpdateDlg::OnInitDialog() {
    progress_ = ProgressTracker(GetTickCount());
    SetLauncherIcons(window_, instance_);

    for (int bar : {kUpdateOverallBar, kUpdateFileBar})
        SendMessageW(Control(bar), PBM_SETRANGE32, 0, kProgressBarRange);
    templates_.checking = LoadResString(kStringCheckingFiles);
    templates_.overall = LoadResString(kStringOverallProgress);
    templates_.unpacking = LoadResString(kStringUnpacking);
    templates_.downloading = LoadResString(kStringDownloading);
    SetTimer(window_, kTimerProgress, kProgressPeriodMs, nullptr);

    manager_.SetPackageMode(1);
    // The switch alone names no package: the executable is then read from its start,
    // where no pack begins, and is refused like a damaged one.
    const int64_t offset = package_offset_ > 0 ? package_offset_ : 0;
    if (!manager_.AddUpdatePackage(ProgramPath(), offset)) {
        MessageBoxW(window_, LoadResString(kStringPackageDamaged).c_str(), kNoCaption, MB_OK);
        CloseNow();
        return;
    }

    updater_.SetOwner(this);
    updater_.SetDownloadManager(&manager_);
    PrepareRun();
    // The installation is looked for once the window is on screen, so that the player sees
    // whose questions the messages and the folder browser are.
    PostMessageW(window_, UM_BEGIN_UPDATE, 0, 0);
}

void CUpdateDlg::BeginUpdate() {
    std::wstring folder;
    const bool chosen = ChooseInstallation(folder);
    // Closing the window while a question was open has ended the program already.
    if (closing_) return;
    if (!chosen) {
        CloseNow();
        return;
    }
    // The run's relative paths (the hash cache, its temporary folder) belong to the
    // installation, not to wherever the package was started from.
    SetCurrentDirectoryW(folder.c_str());
    updater_.SetBaseDirectory(folder);
    LauncherLog::Instance().Write(L"Update package applied to %ls\n", folder.c_str());
    if (!StartRun()) {
        // Without a run the window would wait for an end that never comes.
        LauncherLog::Instance().Write(L"Update thread could not be started, error %d\n", int(GetLastError()));
        OnUpdateFinished(kUpdateFailed);
    }
}

bool CUpdateDlg::ChooseInstallation(std::wstring& folder) {
    if (!ReadInstallPath(folder, LoadConfigText(kConfigInstallRegistryKey)) && !BrowseForFolder(folder))
        return false;
    const std::vector<std::wstring> accepted = SplitLines(LoadConfigText(kConfigAcceptedVersions));
    for (;;) {
        folder = WithoutTrailingSeparator(folder);
        const int check = CheckClientFolder(folder, accepted);
        if (check >= 0) return true;
        ShowFolderProblem(check, folder, accepted);
        if (!BrowseForFolder(folder)) return false;
    }
}

void CUpdateDlg::ShowFolderProblem(int check, const std::wstring& folder, const std::vector<std::wstring>& accepted) {
    std::wstring text;
    if (check == -2) {
        text = LoadResString(kStringClientNotFound);
    } else if (check == -1) {
        text = LoadResString(kStringCannotUpgradeVersion) + InstalledVersion(folder) + L"\n" +
               LoadResString(kStringAcceptedVersionsHeading);
        for (const std::wstring& version : accepted) text += version + L"\n";
    } else {
        text = LoadResString(kStringNoClientVersion);
    }
    MessageBoxW(window_, text.c_str(), kNoCaption, MB_OK);
}

bool CUpdateDlg::BrowseForFolder(std::wstring& folder) {
    const std::wstring title = LoadResString(kStringChooseInstallFolder);
    BROWSEINFOW browse{};
    browse.hwndOwner = window_;
    browse.lpszTitle = title.c_str();
    browse.ulFlags = BIF_RETURNONLYFSDIRS;
    std::unique_ptr<ITEMIDLIST, CoTaskMemDeleter> chosen(SHBrowseForFolderW(&browse));
    if (!chosen) return false;
    wchar_t path[MAX_PATH] = {};
    if (!SHGetPathFromIDListW(chosen.get(), path)) return false;
    folder = path;
    return true;
}

void CUpdateDlg::OnUpdateFinished(int result) {
    if (result == kUpdateSucceeded) {
        MessageBoxW(window_, LoadResString(kStringPackageApplied).c_str(), kNoCaption, MB_OK);
        CloseNow();
        return;
    }
    const std::wstring failed = LoadResString(kStringUpdateFailed);
    LauncherLog::Instance().Write(L"%ls\n", failed.c_str());
    SetDlgItemTextW(window_, kUpdateStatusLine, failed.c_str());
    const std::vector<std::wstring> errors = updater_.GetErrors();
    if (errors.empty()) {
        MessageBoxW(window_, failed.c_str(), L"Error", MB_OK);
        return;
    }
    ErrorResultDlg dialog(errors, LoadConfigText(kConfigFileListUrl), LoadConfigText(kConfigPatchPageUrl));
    dialog.DoModal(window_);
}

void CUpdateDlg::RefreshProgressNow() {
    // No stall report here: a package is read from the local disk.
    ProgressDisplay display = SampleProgress();
    if (display.overall_text != shown_.overall_text)
        SetDlgItemTextW(window_, kUpdateOverallText, display.overall_text.c_str());
    // The file text is a multi-line edit here, and string 151 breaks its line with a bare LF.
    if (display.file_text != shown_.file_text)
        SetDlgItemTextW(window_, kUpdateFileText, EditControlText(display.file_text).c_str());
    SendMessageW(Control(kUpdateOverallBar), PBM_SETPOS, WPARAM(display.overall_bar), 0);
    SendMessageW(Control(kUpdateFileBar), PBM_SETPOS, WPARAM(display.file_bar), 0);
    shown_ = std::move(display);
}

void CUpdateDlg::ShowStatusLine(const std::wstring& text) {
    SetDlgItemTextW(window_, kUpdateStatusLine, text.c_str());
}

void CUpdateDlg::OnClose() {
    if (closing_) return;
    closing_ = true;
    CloseAfterRun();
}

void CUpdateDlg::CloseNow() {
    closing_ = true;
    DestroyWindow(window_);
    PostQuitMessage(0);
}

void CUpdateDlg::OnDestroy() {
    KillTimer(window_, kTimerProgress);
    // Texts posted by workers that the window will never show.
    DropPostedStatusTexts();
}

}  // namespace velm
