#include <windows.h>

#include <pugixml.hpp>

#include "app/config_text_win32.h"
#include "app/process_settings.h"
#include "app/show_message_win32.h"
#include "common/file_io.h"
#include "common/handle_win32.h"
#include "common/log.h"
#include "common/md5.h"
#include "download/winnet_download_job_win32.h"
#include "services/report_list_win32.h"
#include "update/client_updater_win32.h"
#include "update/replace_script.h"
#include "update/update_texts.h"

namespace velm {
namespace {

std::wstring RunningModulePath() {
    wchar_t path[1024];
    DWORD length = GetModuleFileNameW(nullptr, path, 1024);
    return std::wstring(path, length < 1024 ? length : 0);
}

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

int TClientUpdater::CheckLauncherUpdate(const std::wstring& path) {
    if (!Settings().self_update) return 0;
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes, kMaxFileListBytes)) return -1;
    pugi::xml_document document;
    if (!document.load_buffer(bytes.data(), bytes.size())) return -1;
    pugi::xml_node launcher = document.child(L"Root").child(L"LauncherCompressed");
    if (!launcher) return -1;
    const std::wstring url = launcher.attribute(L"URL").value();
    const std::wstring hash = launcher.attribute(L"hash").value();
    const int64_t size = launcher.attribute(L"size_compressed").as_llong(0);
    {
        std::lock_guard<std::mutex> hold(state_lock_);
        launcher_url_ = url;
    }
    const std::wstring running = launcher_path_.empty() ? RunningModulePath() : launcher_path_;
    if (FileHashIs(running, hash)) return 0;

    PostLauncherReport(L"download_launcher", L"");
    auto* job = new TWinInetDownloadJob;
    job->SetTimeouts(timeouts_);
    job->Setup(url, kDownloadedLauncherPath, callback_.get(), size, kJobFlagCompressed);
    total_ = 1;
    manager_->AddJob(job);
    if (owner_) owner_->SetTotalBytes(size);
    completed_ = 0;
    failed_ = 0;
    int32_t completed = 0, failed = 0;
    manager_->SetRunning(true);
    WaitForJobs(completed, failed);
    manager_->SetRunning(false);
    DeleteJobs();
    if (completed != 1 || !FileExists(kDownloadedLauncherPath)) return -1;
    // A damaged download must never replace a launcher that works.
    if (!FileHashIs(kDownloadedLauncherPath, hash)) {
        LauncherLog::Instance().Write(L"%ls does not match the published launcher md5.\n", kDownloadedLauncherPath);
        DeleteFileW(kDownloadedLauncherPath);
        return -1;
    }

    PostLauncherReport(L"launch_has_update", L"");
    ShowMessage(LoadResString(kTextLauncherRestart), L"Message", MB_OK);
    DeleteFileW(kReplaceScriptPath);
    const std::string script = ReplaceScriptText(ToAnsi(running));
    if (!WriteWholeFile(kReplaceScriptPath, script.data(), script.size())) {
        PostLauncherReport(L"replace_launcher_failed0", L"");
        ShowMessage(L"Can not replace VelmLauncher.exe code: 0", L"Error", MB_OK);
    } else if (!StartReplaceScript()) {
        PostLauncherReport(L"replace_launcher_failed1", L"");
        ShowMessage(L"Can not replace VelmLauncher", L"Error", MB_OK);
    }
    return 1;
}

}  // namespace velm
