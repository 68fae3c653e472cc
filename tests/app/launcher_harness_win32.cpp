#include "app/launcher_harness_win32.h"

#include <cstdlib>
#include <vector>

#include "common/file_io.h"
#include "common/text.h"
#include "tools/retarget/retarget_win32.h"

namespace velm::test {

std::wstring EnvText(const char* name) {
    const char* value = std::getenv(name);
    return value ? Utf8ToWide(value) : L"";
}

std::wstring WindowsPathFromEnv(const char* name) {
    std::wstring path = EnvText(name);
    if (path.empty()) return path;
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return L"Z:" + path;
}

namespace {

void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(path);
            else DeleteFileW(path.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

}  // namespace

LauncherInstall::LauncherInstall(const std::map<int, std::wstring>& texts) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static int counter = 0;
    folder_ = FormatText(L"%lsvelm-install-%lu-%d", temp, GetCurrentProcessId(), ++counter);
    RemoveTree(folder_);
    if (!CreateDirectoryW(folder_.c_str(), nullptr)) {
        error_ = L"cannot create " + folder_;
        return;
    }
    std::wstring built = WindowsPathFromEnv("VELM_BINARY_DIR") + L"\\VelmLauncher.exe";
    ok_ = RetargetExecutable(built, Path(L"VelmLauncher.exe"), texts, error_);
}

LauncherInstall::~LauncherInstall() { RemoveTree(folder_); }

LauncherProcess::~LauncherProcess() {
    if (!Running()) return;
    EnumWindows(
        [](HWND window, LPARAM id) -> BOOL {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == DWORD(id)) PostMessageW(window, WM_CLOSE, 0, 0);
            return TRUE;
        },
        LPARAM(process_id_));
    DWORD code = 0;
    if (!WaitForExit(15000, code)) TerminateProcess(process_.Get(), 1);
}

bool LauncherProcess::Start(const LauncherInstall& install, const std::wstring& arguments) {
    return Start(install, arguments, nullptr);
}

bool LauncherProcess::Start(const LauncherInstall& install, const std::wstring& arguments,
                            const std::function<void(DWORD thread_id)>& before_run) {
    std::wstring exe = install.Path(L"VelmLauncher.exe");
    std::wstring command = L"\"" + exe + L"\" " + arguments;
    std::vector<wchar_t> buffer(command.begin(), command.end());
    buffer.push_back(0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    // Started from another folder on purpose: the launcher must make its own folder current.
    const DWORD flags = before_run ? CREATE_SUSPENDED : 0;
    if (!CreateProcessW(exe.c_str(), buffer.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                        &startup, &info))
        return false;
    if (before_run) {
        before_run(info.dwThreadId);
        ResumeThread(info.hThread);
    }
    CloseHandle(info.hThread);
    process_.Reset(info.hProcess);
    process_id_ = info.dwProcessId;
    return true;
}

namespace {

struct WindowSearch {
    DWORD process_id;
    const wchar_t* class_name;
    HWND except;
    HWND found;
};

BOOL CALLBACK FindProcessWindow(HWND window, LPARAM lparam) {
    auto* search = reinterpret_cast<WindowSearch*>(lparam);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (owner == search->process_id && window != search->except && IsWindowVisible(window) &&
        wcscmp(name, search->class_name) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND LauncherProcess::WaitForWindow(const wchar_t* class_name, DWORD timeout_ms, HWND except) const {
    DWORD start = GetTickCount();
    do {
        WindowSearch search{process_id_, class_name, except, nullptr};
        EnumWindows(&FindProcessWindow, LPARAM(&search));
        if (search.found) return search.found;
        Sleep(50);
    } while (GetTickCount() - start < timeout_ms);
    return nullptr;
}

bool LauncherProcess::WaitForExit(DWORD timeout_ms, DWORD& exit_code) {
    if (!process_ || WaitForSingleObject(process_.Get(), timeout_ms) != WAIT_OBJECT_0) return false;
    GetExitCodeProcess(process_.Get(), &exit_code);
    return true;
}

bool LauncherProcess::Running() const {
    return process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
}

std::wstring MessageBoxText(HWND box) {
    wchar_t text[1024] = {};
    // The text of a message box is the static control with id 0xFFFF.
    GetDlgItemTextW(box, 0xFFFF, text, 1024);
    return text;
}

void PressOk(HWND box) { PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); }

std::wstring ChildTexts(HWND window) {
    std::wstring texts;
    EnumChildWindows(
        window,
        [](HWND child, LPARAM out) -> BOOL {
            wchar_t text[1024] = {};
            GetWindowTextW(child, text, 1024);
            *reinterpret_cast<std::wstring*>(out) += std::wstring(text) + L"\n";
            return TRUE;
        },
        LPARAM(&texts));
    return texts;
}

namespace {

// The value of "key": "..." in one JSON line of the recording server (values read here
// carry no escapes: method, path and the body as hexadecimal).
std::string JsonField(const std::string& line, const std::string& key) {
    std::string marker = "\"" + key + "\": \"";
    size_t at = line.find(marker);
    if (at == std::string::npos) return "";
    at += marker.size();
    size_t end = line.find('"', at);
    return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(char(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

}  // namespace

std::vector<RecordedRequest> RecordedRequests() {
    std::vector<uint8_t> bytes;
    std::vector<RecordedRequest> requests;
    if (!ReadWholeFile(WindowsPathFromEnv("VELM_RECORD_LOG"), bytes, 64 << 20)) return requests;
    std::string text(bytes.begin(), bytes.end());
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) break;  // a line still being written
        std::string line = text.substr(start, end - start);
        start = end + 1;
        requests.push_back({JsonField(line, "method"), JsonField(line, "path"),
                            FromHex(JsonField(line, "body_hex"))});
    }
    return requests;
}

bool WaitForRequests(size_t count, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    do {
        if (RecordedRequests().size() >= count) return true;
        Sleep(50);
    } while (GetTickCount() - start < timeout_ms);
    return false;
}

std::wstring ReadRegistryText(const std::wstring& key_path, const wchar_t* value) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key_path.c_str(), value, RRF_RT_REG_SZ, nullptr, buffer,
                     &size) != ERROR_SUCCESS)
        return L"";
    return buffer;
}

void DeleteRegistryKey(const std::wstring& key_path) { RegDeleteKeyW(HKEY_LOCAL_MACHINE, key_path.c_str()); }

}  // namespace velm::test
