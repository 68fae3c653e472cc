#include <windows.h>

#include <memory>

#include "app/run_options_win32.h"
#include "app/startup_win32.h"
#include "ui/main_dlg_win32.h"
#include "ui/update_dlg_win32.h"

namespace {

std::unique_ptr<velm::LauncherWindow> CreateMainWindow(HINSTANCE instance, const velm::ProcessSettings& settings) {
    auto window = std::make_unique<velm::CMainDlg>(velm::RunOptionsFor(settings));
    if (!window->Create(instance)) return nullptr;
    return window;
}

std::unique_ptr<velm::LauncherWindow> CreateUpdateWindow(HINSTANCE instance, const velm::ProcessSettings& settings) {
    auto window = std::make_unique<velm::CUpdateDlg>(velm::RunOptionsFor(settings), settings.package_marker);
    if (!window->Create(instance)) return nullptr;
    return window;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR command_line, int show_command) {
    return velm::RunLauncher(instance, command_line, show_command, CreateMainWindow, CreateUpdateWindow);
}
