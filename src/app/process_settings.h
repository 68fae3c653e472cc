#pragma once
// The settings of one program run: made by start-up from the command line's switches and
// the package marker, and handed to the window it creates.
#include <cstdint>
#include <string>

namespace velm {

struct ProcessSettings {
    int debug_console = 0;
    int self_update = 1;
    int package_mode = 0;
    int64_t package_marker = 0;
    std::wstring file_list_url_override;
    std::wstring url_root_replacement;
    std::wstring url_root_original;
};

// Steps 3 to 6 of the start-up: the switches of the entry point's command line.
void ApplySwitches(const std::wstring& command_line, ProcessSettings& settings);

// The package marker: a marker above 0 selects package mode and turns self-update off.
void ApplyPackageMarker(int64_t marker, ProcessSettings& settings);

}  // namespace velm
