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
    // The player's cap on the download rate in KiB/s from -MAXRATE (0: none); -1 when the
    // switch is absent or its value is no rate, and the launcher's INI file decides.
    int64_t max_rate_kib = -1;
};

// The largest cap taken, in KiB/s (1 TiB/s); anything above is no rate.
inline constexpr int64_t kMaxRateKib = int64_t(1) << 30;

// A rate in KiB/s: decimal digits only, blanks around them allowed, at most kMaxRateKib.
// 1 when text is one, with the value in kib.
int ParseRateKib(const std::wstring& text, int64_t& kib);

// Steps 3 to 6 of the start-up: the switches of the entry point's command line.
void ApplySwitches(const std::wstring& command_line, ProcessSettings& settings);

// The download cap in KiB/s: the switch's when it gave one, else the launcher INI file's
// "MaxRate" value (ini_value, as read) when that is a rate, else 0 (no cap).
int64_t MaxRateKibFor(const ProcessSettings& settings, const std::wstring& ini_value);

// The package marker: a marker above 0 selects package mode and turns self-update off.
void ApplyPackageMarker(int64_t marker, ProcessSettings& settings);

}  // namespace velm
