#include "app/run_options_win32.h"

#include <windows.h>

#include <iterator>

#include "common/config_text_ids.h"
#include "common/resource_text_win32.h"
#include "common/string_ids.h"
#include "services/last_selected_win32.h"

namespace velm {
namespace {

// [Download] MaxRate=KiB/s in the launcher's INI file, beside the remembered server.
std::wstring ReadIniMaxRate() {
    wchar_t value[32] = {};
    const DWORD length = GetPrivateProfileStringW(L"Download", L"MaxRate", L"", value,
                                                  DWORD(std::size(value)), kLauncherIniPath);
    return std::wstring(value, length);
}

}  // namespace

UpdateOptions RunOptionsFor(const ProcessSettings& settings) {
    UpdateOptions options;
    options.package_mode = settings.package_mode != 0;
    options.self_update = settings.self_update != 0;
    // The command line's address wins over the built-in one.
    options.file_list_url = settings.file_list_url_override.empty() ? LoadConfigText(kConfigFileListUrl)
                                                                    : settings.file_list_url_override;
    options.url_root_original = settings.url_root_original;
    options.url_root_replacement = settings.url_root_replacement;
    options.max_bytes_per_second = MaxRateKibFor(settings, ReadIniMaxRate()) * 1024;
    options.release_key = LoadConfigText(kConfigReleasePublicKey);
    options.release_channel = LoadConfigText(kConfigReleaseChannel);
    options.install_registry_key = LoadConfigText(kConfigInstallRegistryKey);
    options.texts.connecting = LoadResString(kStringConnecting);
    options.texts.downloading_file_list = LoadResString(kStringDownloadingFileList);
    options.texts.checking_local_files = LoadResString(kStringCheckingLocalFiles);
    options.texts.launcher_restart = LoadResString(kStringLauncherRestart);
    return options;
}

}  // namespace velm
