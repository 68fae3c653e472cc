// download_once URL LOCAL_PATH: runs one download job to its end, as the launcher would,
// and exits 0 when it succeeded. The resume test kills it in the middle of a transfer.
#include <windows.h>

#include <cstdio>
#include <string>

#include "download/download_manager_win32.h"
#include "download/winnet_download_job_win32.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fwprintf(stderr, L"usage: download_once URL LOCAL_PATH\n");
        return 2;
    }
    velm::CSTDownloadManager manager;
    auto* job = new velm::TWinInetDownloadJob;
    job->Setup(argv[1], argv[2], nullptr, 0, 0);
    manager.AddJob(job);
    manager.SetRunning(true);
    while (!manager.AreAllJobsDone()) Sleep(20);
    manager.SetRunning(false);
    const int result = job->GetResult();
    manager.DeleteAllJobs();
    return result == velm::kResultSucceeded ? 0 : 1;
}
