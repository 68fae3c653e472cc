#include <windows.h>

#include "app/startup_win32.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR command_line, int show_command) {
    return velm::RunLauncher(instance, command_line, show_command);
}
