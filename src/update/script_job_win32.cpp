#include "update/script_job_win32.h"

#include <windows.h>

#include <shlobj.h>
#include <shobjidl.h>

#include "common/com_win32.h"
#include "common/log.h"
#include "common/system_error_win32.h"

namespace velm {
namespace {

constexpr const wchar_t* kDesktopToken = L"{DESKTOP}";

bool CommonDesktop(std::wstring& desktop) {
    wchar_t path[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_DESKTOPDIRECTORY | CSIDL_FLAG_CREATE, nullptr,
                                SHGFP_TYPE_CURRENT, path)))
        return false;
    desktop = path;
    return true;
}

bool CreateShortcut(const std::wstring& target, const std::wstring& link, const std::wstring& description) {
    ComScope com;
    ComPtr<IShellLinkW> shell_link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                shell_link.Out())))
        return false;
    shell_link->SetPath(target.c_str());
    shell_link->SetDescription(description.c_str());
    ComPtr<IPersistFile> file;
    if (FAILED(shell_link->QueryInterface(IID_IPersistFile, file.Out()))) return false;
    return SUCCEEDED(file->Save(link.c_str(), TRUE));
}

// Files that players or old installers marked read-only are removed all the same. A file
// already gone counts as deleted, so that a repeated run does not fail on it.
bool DeleteScriptFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(path.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    if (DeleteFileW(path.c_str())) return true;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

std::wstring NormaliseScriptPath(const std::wstring& path) {
    std::wstring out;
    out.reserve(path.size());
    for (wchar_t c : path) {
        if (c == L'/') c = L'\\';
        if (c == L'\\' && !out.empty() && out.back() == L'\\') continue;
        out.push_back(c);
    }
    return out;
}

int TScriptProcessJob::Setup(const std::wstring&, const std::wstring& name, DownloadFileCallback* callback,
                             int64_t, uint32_t) {
    base_ = name;
    name_ = name;
    record_.job = this;
    record_.callback = callback;
    weight_ = 1000;
    SetState(kJobWaiting);
    return 1;
}

// Nothing the script does decides the run's outcome (see Execute): a script that is
// aborted before it ran has succeeded too.
void TScriptProcessJob::Abort() {
    std::lock_guard<std::mutex> hold(control_);
    ReportEnd(kResultSucceeded);
}

std::wstring TScriptProcessJob::ResolvePath(const std::wstring& argument, const std::wstring& desktop) const {
    const std::wstring path = NormaliseScriptPath(argument);
    if (path.find(kDesktopToken) != std::wstring::npos) {
        // Only "{DESKTOP}\name": a plain file name directly on the desktop.
        const std::wstring prefix = std::wstring(kDesktopToken) + L"\\";
        if (path.compare(0, prefix.size(), prefix) != 0) return L"";
        const std::wstring name = path.substr(prefix.size());
        if (name.find(L'\\') != std::wstring::npos || !IsSafeEntryName(L"\\" + name)) return L"";
        return desktop + L"\\" + name;
    }
    const std::wstring relative = path.empty() || path[0] != L'\\' ? L"\\" + path : path;
    if (!IsSafeEntryName(relative)) return L"";
    return base_ + relative;
}

void TScriptProcessJob::Execute() {
    std::lock_guard<std::mutex> hold(control_);
    std::wstring desktop = desktop_;
    if (desktop.empty() && !CommonDesktop(desktop)) {
        ReportEnd(kResultSucceeded);
        return;
    }
    SetState(kJobRunning);
    // The script tidies up after the files; nothing it does decides whether the
    // installation is current, so a command that is refused or fails is logged and the
    // job still succeeds. Otherwise a file held open would keep the run failed, and the
    // script running again, on every start.
    LauncherLog& log = LauncherLog::Instance();
    for (const ScriptCommand& command : commands_) {
        if (command.name == L"CREATE_SHORTCUT" && command.args.size() >= 3) {
            const std::wstring text = L"CREATE_SHORTCUT \"" + command.args[0] + L"\" \"" + command.args[1] + L"\"";
            std::wstring target = ResolvePath(command.args[0], desktop);
            std::wstring link = ResolvePath(command.args[1], desktop);
            if (target.empty() || link.empty()) log.Write(L"script command refused (unsafe path): %ls\n", text.c_str());
            else if (!CreateShortcut(target, link, command.args[2]))
                log.Write(L"script command failed: %ls\n", text.c_str());
        } else if (command.name == L"DELETE_FILE" && !command.args.empty()) {
            const std::wstring text = L"DELETE_FILE \"" + command.args[0] + L"\"";
            std::wstring path = ResolvePath(command.args[0], desktop);
            if (path.empty()) {
                log.Write(L"script command refused (unsafe path): %ls\n", text.c_str());
            } else if (!DeleteScriptFile(path)) {
                const DWORD error = GetLastError();
                log.Write(L"script command failed: %ls (%ls)\n", text.c_str(), SystemErrorText(error).c_str());
            }
        }
    }
    ReportEnd(kResultSucceeded);
}

}  // namespace velm
