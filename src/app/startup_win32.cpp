// Winsock 2 must come before <windows.h>, which would otherwise bring the old header.
#include <winsock2.h>

#include "app/startup_win32.h"

#include <commctrl.h>
#include <ole2.h>

#include "common/config_text_ids.h"
#include "common/string_ids.h"
#include "common/resource_text_win32.h"
#include "game/game_folder_win32.h"
#include "app/install_code.h"
#include "app/command_line.h"
#include "app/process_settings.h"
#include "common/com_win32.h"
#include "common/handle_win32.h"
#include "common/file_io.h"
#include "common/log.h"
#include "services/report_list_win32.h"

namespace velm {
namespace {

void OpenDebugConsole() {
    AllocConsole();
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!output || output == INVALID_HANDLE_VALUE) return;
    SetConsoleScreenBufferSize(output, COORD{160, 4096});
    LauncherLog::Instance().SetConsole(output);
}

void SendInstallReport() {
    std::wstring code = ReadInstallCode();
    if (code.empty()) return;
    std::wstring version;
    ReadGameVersion(L".\\VelmGame\\Config\\DefaultGame.ini", version);
    PostRequest(LoadConfigText(kConfigInstallReportUrl), L"POST",
                L"para=" + code + L"&version=qv:" + version);
    // The code is sent at most once per file, whether or not this post gets through.
    RemoveFile(L"sn.txt");
}

int RunMessageLoop(LauncherWindow* window) {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (window && window->PreTranslateMessage(message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return int(message.wParam);
}

int RunWindow(HINSTANCE instance, LauncherWindowFactory create_window, const ProcessSettings& settings,
              int show_command) {
    std::unique_ptr<LauncherWindow> window = create_window ? create_window(instance, settings) : nullptr;
    if (!window) return 0;
    ShowWindow(window->Handle(), show_command);
    UpdateWindow(window->Handle());
    return RunMessageLoop(window.get());
}

int StartupProcedure(HINSTANCE instance, const std::wstring& command_line, int show_command,
                     LauncherWindowFactory create_main_window, LauncherWindowFactory create_update_window) {
    ProcessSettings settings;

    UniqueHandle mutex(CreateMutexW(nullptr, FALSE, kSingleInstanceMutexName));
    if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
        // No window of this copy exists yet to own the message.
        MessageBoxW(nullptr, LoadResString(kStringAlreadyRunning).c_str(), nullptr, MB_OK);
        return 0;
    }

    if (FindSwitch(command_line, L"-SHOWDEBUG")) {
        settings.debug_console = 1;
        OpenDebugConsole();
    }
    ApplySwitches(command_line, settings);
    int64_t marker = 0;
    if (ReadPackageMarker(marker)) ApplyPackageMarker(marker, settings);

    if (!settings.package_mode) WriteInstallPath(LoadConfigText(kConfigInstallRegistryKey), ProgramFolder());

    InitReports(LoadConfigText(kConfigReportUrl), LoadConfigText(kConfigReportChannel));
    PostLauncherReport(L"launcher", L"");
    SendInstallReport();
    PostRequest(LoadConfigText(kConfigStartupClickUrl), L"GET", L"BtnParam=15&gametype=qv");

    int exit_code = RunWindow(instance, settings.package_mode ? create_update_window : create_main_window,
                              settings, show_command);

    mutex.Close();
    WaitForReportThreads();
    return exit_code;
}

}  // namespace

int RunLauncher(HINSTANCE instance, const wchar_t* command_line, int show_command,
                LauncherWindowFactory create_main_window, LauncherWindowFactory create_update_window) {
    WSADATA winsock = {};
    if (WSAStartup(MAKEWORD(1, 1), &winsock) != 0) {
        LauncherLog::Instance().Write(L"dll not found,WSAStartup failed\n");
        return -1;
    }
    if (LOBYTE(winsock.wVersion) != 1 || HIBYTE(winsock.wVersion) != 1) {
        LauncherLog::Instance().Write(L"dll version not correct！,WSAStartup failed\n");
        WSACleanup();
        return -1;
    }
    SetCurrentDirectoryW(ProgramFolder().c_str());

    // OLE, not only COM: the main window hosts the web browser control in place.
    const OleScope ole;
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    int result = StartupProcedure(instance, command_line ? command_line : L"", show_command, create_main_window,
                                  create_update_window);

    LauncherLog::Instance().DebugWrite(0, 0, L"CommandLine: %ls\r\n", GetCommandLineW());
    WSACleanup();
    return result;
}

}  // namespace velm
