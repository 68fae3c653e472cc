#include "app/process_settings.h"

#include "app/command_line.h"

namespace velm {

void ApplySwitches(const std::wstring& command_line, ProcessSettings& settings) {
    if (FindSwitch(command_line, L"-SHOWDEBUG")) settings.debug_console = 1;
    if (FindSwitch(command_line, L"-NOSELFUPDATE")) settings.self_update = 0;
    if (FindSwitch(command_line, L"-TESTDOWNLOADSOURCE")) {
        settings.self_update = 0;
        settings.package_mode = 1;
    }
    settings.file_list_url_override = GetSwitchValue(command_line, L"-FILELISTURL");
    settings.url_root_replacement = GetSwitchValue(command_line, L"-URLROOT_REPLACEMENT");
    settings.url_root_original = GetSwitchValue(command_line, L"-URLROOT_ORIGINAL");
}

void ApplyPackageMarker(int64_t marker, ProcessSettings& settings) {
    settings.package_marker = marker;
    if (marker > 0) {
        settings.package_mode = 1;
        settings.self_update = 0;
    }
}

}  // namespace velm
