#include "update/launcher_self_update_win32.h"

#include <windows.h>

#include "common/file_io.h"
#include "common/handle_win32.h"
#include "common/log.h"
#include "common/md5.h"
#include "services/report_list_win32.h"
#include "update/client_updater_win32.h"
#include "update/replace_script.h"
#include "update/update_jobs_win32.h"

namespace velm {
namespace {

std::string ToAnsi(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(size > 0 ? size : 0), '\0');
    if (size > 0) WideCharToMultiByte(CP_ACP, 0, text.c_str(), int(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

bool FileHashIs(const std::wstring& path, const std::wstring& hash) {
    Md5Digest digest;
    return Md5File(path, digest) && HashTextEquals(Md5ToHex(digest), hash);
}

// The hidden command interpreter of the system folder runs the script from the
// installation folder, which is the current folder.
bool StartReplaceScript() {
    wchar_t system_dir[MAX_PATH];
    UINT length = GetSystemDirectoryW(system_dir, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    std::wstring interpreter = std::wstring(system_dir, length) + L"\\cmd.exe";
    std::wstring command_line = L"/c tmp\\replace.cmd";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(interpreter.c_str(), &command_line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return false;
    UniqueHandle owned_process(process.hProcess);
    UniqueHandle owned_thread(process.hThread);
    return true;
}

}  // namespace

std::wstring RunningModulePath() {
    wchar_t path[1024];
    DWORD length = GetModuleFileNameW(nullptr, path, 1024);
    return std::wstring(path, length < 1024 ? length : 0);
}

SelfUpdateOutcome LauncherSelfUpdate::Run(const LauncherEntry& launcher, const std::wstring& running) {
    if (FileHashIs(running, launcher.hash)) return SelfUpdateOutcome::kCurrent;
    PostLauncherReport(L"download_launcher", L"");
    if (!Download(launcher)) return SelfUpdateOutcome::kFailed;
    PostLauncherReport(L"launch_has_update", L"");
    if (UpdateRunOwner* owner = run_.Owner()) owner->ShowRunMessage(run_.Options().texts.launcher_restart, L"Message");
    StartReplacement(running);
    return SelfUpdateOutcome::kReplacing;
}

bool LauncherSelfUpdate::Download(const LauncherEntry& launcher) {
    PlannedJob planned;
    planned.url = launcher.url;
    planned.local_path = kDownloadedLauncherPath;
    planned.expected_size = launcher.size_compressed;
    planned.flags = kJobFlagCompressed;
    UpdateOptions network = run_.Options();
    network.package_mode = false;
    TDownloadJobBase* job = MakeUpdateJob(planned, network, run_.JobCallback(), run_.Timeouts());
    if (UpdateRunOwner* owner = run_.Owner()) owner->SetTotalBytes(launcher.size_compressed);
    const RunOutcome outcome = run_.RunJobsToEnd({job});
    if (outcome.completed != 1 || !FileExists(kDownloadedLauncherPath)) return false;
    // A damaged download must never replace a launcher that works.
    if (!FileHashIs(kDownloadedLauncherPath, launcher.hash)) {
        LauncherLog::Instance().Write(L"%ls does not match the published launcher md5.\n", kDownloadedLauncherPath);
        DeleteFileW(kDownloadedLauncherPath);
        return false;
    }
    return true;
}

void LauncherSelfUpdate::StartReplacement(const std::wstring& running) {
    UpdateRunOwner* owner = run_.Owner();
    DeleteFileW(kReplaceScriptPath);
    const std::string script = ReplaceScriptText(ToAnsi(running));
    if (!WriteWholeFile(kReplaceScriptPath, script.data(), script.size())) {
        PostLauncherReport(L"replace_launcher_failed0", L"");
        if (owner) owner->ShowRunMessage(L"Can not replace VelmLauncher.exe code: 0", L"Error");
    } else if (!StartReplaceScript()) {
        PostLauncherReport(L"replace_launcher_failed1", L"");
        if (owner) owner->ShowRunMessage(L"Can not replace VelmLauncher", L"Error");
    }
}

}  // namespace velm
