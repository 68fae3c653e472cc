#pragma once
// Runs the real VelmLauncher.exe under Wine as a player would: a copy in its own
// installation folder, its texts pointed at the test's loopback servers, its windows
// found and driven by messages.
#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/handle_win32.h"

namespace velm::test {

// A Unix path from the environment as Wine sees it (Z: is the Unix root).
std::wstring WindowsPathFromEnv(const char* name);
std::wstring EnvText(const char* name);

// A fresh installation folder holding a retargeted copy of the built launcher.
class LauncherInstall {
public:
    // texts: configuration texts to replace in the copy (id to text).
    explicit LauncherInstall(const std::map<int, std::wstring>& texts);
    ~LauncherInstall();
    const std::wstring& Folder() const { return folder_; }
    std::wstring Path(const std::wstring& name) const { return folder_ + L"\\" + name; }
    bool ok() const { return ok_; }
    const std::wstring& error() const { return error_; }

private:
    std::wstring folder_;
    bool ok_ = false;
    std::wstring error_;
};

class LauncherProcess {
public:
    LauncherProcess() = default;
    ~LauncherProcess();  // closes and, if need be, kills what is still running
    bool Start(const LauncherInstall& install, const std::wstring& arguments);
    // Starts it with its first thread held until before_run has had that thread's id (to
    // hook the thread that owns the windows before any of them exists).
    bool Start(const LauncherInstall& install, const std::wstring& arguments,
               const std::function<void(DWORD thread_id)>& before_run);
    // The first visible top-level window of the process with that class (null after the
    // time-out); "#32770" finds message boxes. except: a window to pass over (the main
    // window, when a dialog of the same class is awaited).
    HWND WaitForWindow(const wchar_t* class_name, DWORD timeout_ms, HWND except = nullptr) const;
    bool WaitForExit(DWORD timeout_ms, DWORD& exit_code);
    bool Running() const;
    DWORD Id() const { return process_id_; }

private:
    UniqueHandle process_;
    DWORD process_id_ = 0;
};

// The text of a message box and its OK button.
std::wstring MessageBoxText(HWND box);
void PressOk(HWND box);
// The texts of a window's child controls, joined by line feeds.
std::wstring ChildTexts(HWND window);

// One request seen by the recording server.
struct RecordedRequest {
    std::string method;
    std::string path;
    std::string body;  // raw bytes
};
std::vector<RecordedRequest> RecordedRequests();
// Waits until at least count requests have arrived (false after the time-out).
bool WaitForRequests(size_t count, DWORD timeout_ms);

// Registry helpers for the installation record.
std::wstring ReadRegistryText(const std::wstring& key_path, const wchar_t* value);
void DeleteRegistryKey(const std::wstring& key_path);

}  // namespace velm::test
