#pragma once
// String-table ids of the texts the update run shows or logs.

namespace velm {

enum UpdateTextId : int {
    kTextLauncherRestart = 167,
    kTextDownloadingFileList = 170,
    kTextCheckingLocalFiles = 253,
    kTextConnecting = 254,
};

}  // namespace velm
