#pragma once
// Resource ids of the built-in configuration texts (type "CONFIG_TEXT"), which the
// deployment file config/deployment.ini fills and velm-retarget rewrites, and of the
// package marker.

namespace velm {

enum ConfigTextId : int {
    kConfigGameExecutable = 141,
    kConfigGameArguments = 142,
    kConfigFileListUrl = 143,
    kConfigServerListUrl = 205,
    kConfigNewsPageUrl = 209,
    kConfigAcceptedVersions = 232,
    kConfigReportChannel = 233,
    kConfigInstallReportUrl = 242,
    kConfigInstallRegistryKey = 253,
    kConfigStartupClickUrl = 255,
    kConfigCreateAccountUrl = 256,
    // Endpoints that are fixed in the program; kept with the others so that one
    // deployment file and velm-retarget reach every address the launcher talks to.
    kConfigReportUrl = 900,
    kConfigRegistrationPageUrl = 901,
    kConfigHomePageUrl = 902,
    kConfigPatchPageUrl = 903,
    // The public key releases are signed with; empty when releases are not signed.
    kConfigReleasePublicKey = 904,
    // The release channel the launcher follows; empty means "live".
    kConfigReleaseChannel = 905,
};

// The 8-byte package marker resource.
inline constexpr const wchar_t* kPackageMarkerType = L"UPDATE";
inline constexpr int kPackageMarkerId = 211;

}  // namespace velm
