#pragma once
// Every id of the launcher's string table (src/ui/res/launcher.rc holds the texts). One
// table, one list: the start-up, the update run, the online services and the windows all
// load their player-facing texts by these numbers.

namespace velm {

enum StringId : int {
    kStringUpdateDone = 133,
    kStringUpdateFailed = 134,
    kStringGameCode = 144,
    kStringGameName = 145,
    kStringClientNotFound = 146,
    kStringChooseInstallFolder = 149,
    kStringUnpacking = 150,
    kStringDownloading = 151,
    kStringPackageApplied = 152,
    kStringStartFailed = 153,  // caption "Error"
    kStringOverallProgress = 154,
    kStringUpdateErrorsHeading = 155,
    kStringAlreadyRunning = 160,
    kStringSelectServer = 162,
    kStringServerUnavailable = 163,
    kStringLauncherRestart = 167,
    kStringChooseRealm = 169,
    kStringDownloadingFileList = 170,
    kStringCannotUpgradeVersion = 171,
    kStringAcceptedVersionsHeading = 172,
    kStringClientRunning = 173,
    kStringNoClientVersion = 244,
    kStringCheckingFiles = 245,
    kStringPackageDamaged = 246,
    kStringCheckingLocalFiles = 253,
    kStringConnecting = 254,
};

}  // namespace velm
