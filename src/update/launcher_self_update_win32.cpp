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

// The path in the code page the command interpreter reads scripts in, or false when it
// has a character that code page lacks (a best-fit stand-in would name another file).
bool ToConsoleCodePage(const std::wstring& text, std::string& out) {
    const UINT code_page = GetOEMCP();
    BOOL lossy = FALSE;
    const int size = WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, text.c_str(), int(text.size()), nullptr,
                                         0, nullptr, &lossy);
    if (size <= 0 || lossy) return false;
    out.assign(size_t(size), '\0');
    WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, text.c_str(), int(text.size()), &out[0], size, nullptr,
                        &lossy);
    return !lossy;
}

bool FileHashIs(const std::wstring& path, const std::wstring& hash) {
    Md5Digest digest;
    return Md5File(path, digest) && HashTextEquals(Md5ToHex(digest), hash);
}

// The hidden command interpreter of the system folder runs the script from the
// installation folder, which is the current folder; without the AutoRun commands of the
// registry (/d) and without delayed expansion, under which "!" in a path would vanish.
bool StartReplaceScript() {
    wchar_t system_dir[MAX_PATH];
    UINT length = GetSystemDirectoryW(system_dir, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    std::wstring interpreter = std::wstring(system_dir, length) + L"\\cmd.exe";
    std::wstring command_line = L"cmd.exe /d /v:off /c tmp\\replace.cmd";
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

bool LauncherPathForScript(const std::wstring& running, std::string& path) {
    if (ToConsoleCodePage(running, path)) return true;
    // The short form of a folder named in another script is often plain ASCII.
    wchar_t short_path[1024];
    const DWORD length = GetShortPathNameW(running.c_str(), short_path, 1024);
    return length > 0 && length < 1024 && ToConsoleCodePage(std::wstring(short_path, length), path);
}

SwapStart StartLauncherSwap(const std::wstring& running) {
    std::string path;
    if (!LauncherPathForScript(running, path)) return SwapStart::kUnsafePath;
    DeleteFileW(kReplaceScriptPath);
    const std::string script = ReplaceScriptText(path);
    if (!WriteWholeFile(kReplaceScriptPath, script.data(), script.size())) return SwapStart::kScriptNotWritten;
    return StartReplaceScript() ? SwapStart::kStarted : SwapStart::kNotStarted;
}

SelfUpdateOutcome LauncherSelfUpdate::Run(const LauncherEntry& launcher, const std::wstring& running) {
    if (FileHashIs(running, launcher.hash)) return SelfUpdateOutcome::kCurrent;
    // Refused before anything is downloaded: a swap that cannot name the launcher would
    // end every start in a download and a restart that changes nothing.
    std::string script_path;
    if (!LauncherPathForScript(running, script_path)) {
        LauncherLog::Instance().Write(L"%ls cannot be named in the replacement script; self-update refused.\n",
                                      running.c_str());
        if (UpdateRunOwner* owner = run_.Owner())
            owner->ShowRunMessage(L"Can not replace VelmLauncher: the command interpreter cannot name its folder. "
                                  L"Move the game to a folder whose name uses plain letters.",
                                  L"Error");
        return SelfUpdateOutcome::kRefused;
    }
    PostLauncherReport(L"download_launcher", L"");
    if (!Download(launcher)) return SelfUpdateOutcome::kFailed;
    PostLauncherReport(L"launch_has_update", L"");
    if (UpdateRunOwner* owner = run_.Owner()) owner->ShowRunMessage(run_.Options().texts.launcher_restart, L"Message");
    StartReplacement(running);
    return SelfUpdateOutcome::kReplacing;
}

bool LauncherSelfUpdate::Download(const LauncherEntry& launcher) {
    // A launcher that cannot be checked must never replace one that works.
    if (launcher.hash.empty()) {
        LauncherLog::Instance().Write(L"The file list publishes no launcher md5.\n");
        return false;
    }
    PlannedJob planned;
    planned.url = launcher.url;
    planned.local_path = kDownloadedLauncherPath;
    planned.expected_size = launcher.size_compressed;
    planned.flags = kJobFlagCompressed;
    // Checked by the download before it is moved to where the swap takes it from.
    planned.hash = launcher.hash;
    planned.content = launcher.content;
    UpdateOptions network = run_.Options();
    network.package_mode = false;
    TDownloadJobBase* job = MakeUpdateJob(planned, network, run_.JobCallback(), run_.Timeouts());
    if (UpdateRunOwner* owner = run_.Owner()) owner->SetTotalBytes(launcher.size_compressed);
    const RunOutcome outcome = run_.RunJobsToEnd({job});
    return outcome.completed == 1 && FileExists(kDownloadedLauncherPath);
}

void LauncherSelfUpdate::StartReplacement(const std::wstring& running) {
    UpdateRunOwner* owner = run_.Owner();
    switch (StartLauncherSwap(running)) {
    case SwapStart::kStarted:
        break;
    case SwapStart::kUnsafePath:
    case SwapStart::kScriptNotWritten:
        PostLauncherReport(L"replace_launcher_failed0", L"");
        if (owner) owner->ShowRunMessage(L"Can not replace VelmLauncher.exe code: 0", L"Error");
        break;
    case SwapStart::kNotStarted:
        PostLauncherReport(L"replace_launcher_failed1", L"");
        if (owner) owner->ShowRunMessage(L"Can not replace VelmLauncher", L"Error");
        break;
    }
}

}  // namespace velm
