// download_once [-cmp] [-sha256 HEX SIZE] URL LOCAL_PATH [...]...: runs the jobs through a
// job manager, as the launcher would, prints the milliseconds from the start of the
// manager until every job was done, and exits 0 when all of them succeeded ("-cmp": the
// URL is a ".cmp" container to decode into LOCAL_PATH; "-sha256": the file must have that
// SHA-256 and size, as a file list can give them); each failed job's error text
// follows on a line of its own, "error: TEXT" in UTF-8. The resume test kills it in the
// middle of a transfer, the disk-full test runs it under a file size limit, and
// bench/download.sh times it against curl.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "common/log.h"
#include "common/text.h"
#include "download/download_manager_win32.h"
#include "download/winnet_download_job_win32.h"
#include "formats/content_digest.h"

int wmain(int argc, wchar_t** argv) {
    // The log costs time per chunk; only looked at when a run needs explaining.
    if (const wchar_t* log = _wgetenv(L"VELM_DOWNLOAD_LOG")) velm::LauncherLog::Instance().ReopenForTest(log);
    velm::CSTDownloadManager manager;
    std::vector<velm::TWinInetDownloadJob*> jobs;
    for (int i = 1; i < argc;) {
        uint32_t flags = 0;
        if (std::wstring(argv[i]) == L"-cmp") {
            flags = velm::kJobFlagCompressed;
            ++i;
        }
        velm::ContentDigest expected;
        if (i + 2 < argc && std::wstring(argv[i]) == L"-sha256") {
            expected.present = velm::ParseSha256Hex(argv[i + 1], expected.sha256);
            expected.size = std::wcstoull(argv[i + 2], nullptr, 10);
            i += 3;
        }
        if (i + 1 >= argc) {
            std::fwprintf(stderr, L"usage: download_once [-cmp] [-sha256 HEX SIZE] URL LOCAL_PATH ...\n");
            return 2;
        }
        auto* job = new velm::TWinInetDownloadJob;
        job->Setup(argv[i], argv[i + 1], nullptr, 0, flags);
        job->Record().expected_content = expected;
        manager.AddJob(job);
        jobs.push_back(job);
        i += 2;
    }
    if (jobs.empty()) {
        std::fwprintf(stderr, L"usage: download_once [-cmp] [-sha256 HEX SIZE] URL LOCAL_PATH ...\n");
        return 2;
    }
    const DWORD begin = GetTickCount();
    manager.SetRunning(true);
    manager.WaitUntilAllDone(nullptr, INFINITE);
    const DWORD took = GetTickCount() - begin;
    manager.SetRunning(false);
    bool all_good = true;
    std::printf("%lu\n", static_cast<unsigned long>(took));
    for (auto* job : jobs) {
        if (job->GetResult() == velm::kResultSucceeded) continue;
        all_good = false;
        std::printf("error: %s\n", velm::WideToUtf8(job->GetErrorText()).c_str());
    }
    manager.DeleteAllJobs();
    return all_good ? 0 : 1;
}
