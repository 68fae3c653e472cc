#include "app/process_settings.h"

#include "app/command_line.h"

namespace velm {

int ParseRateKib(const std::wstring& text, int64_t& kib) {
    size_t at = 0;
    while (at < text.size() && (text[at] == L' ' || text[at] == L'\t')) ++at;
    const size_t begin = at;
    int64_t value = 0;
    while (at < text.size() && text[at] >= L'0' && text[at] <= L'9') {
        value = value * 10 + (text[at] - L'0');
        if (value > kMaxRateKib) return 0;
        ++at;
    }
    if (at == begin) return 0;
    while (at < text.size() && (text[at] == L' ' || text[at] == L'\t')) ++at;
    if (at != text.size()) return 0;
    kib = value;
    return 1;
}

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
    int64_t kib = 0;
    if (ParseRateKib(GetSwitchValue(command_line, L"-MAXRATE"), kib)) settings.max_rate_kib = kib;
}

int64_t MaxRateKibFor(const ProcessSettings& settings, const std::wstring& ini_value) {
    if (settings.max_rate_kib >= 0) return settings.max_rate_kib;
    int64_t kib = 0;
    return ParseRateKib(ini_value, kib) ? kib : 0;
}

void ApplyPackageMarker(int64_t marker, ProcessSettings& settings) {
    settings.package_marker = marker;
    if (marker > 0) {
        settings.package_mode = 1;
        settings.self_update = 0;
    }
}

}  // namespace velm
