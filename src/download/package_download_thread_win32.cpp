#include "download/package_download_thread_win32.h"

#include <algorithm>

#include "common/log.h"
#include "common/system_error_win32.h"
#include "download/download_manager_win32.h"

namespace velm {
namespace {

// A last-modified time newer than any resume record: a leftover partial file, even one of
// an earlier HTTP run, is never resumed from a package.
constexpr uint64_t kAlwaysNewer = ~uint64_t(0);

}  // namespace

int TWinInetUpdatePackageDownloadThread::Run(uintptr_t argument) {
    LauncherLog& log = LauncherLog::Instance();
    auto* record = reinterpret_cast<TDownloadJobBase::DownloadRecord*>(argument);
    if (!record) {
        Finish(0);
        return -1;
    }
    job_ = record->job;
    CSTDownloadManager* manager = job_->Manager();
    const PackFile* pack = nullptr;
    int64_t size = 0;
    PackEntryHandle entry;
    if (manager) entry = manager->OpenInUpdatePackages(record->url, pack, nullptr, &size);
    if (!entry.Valid()) {
        log.Write(L"OpenPackFile %ls failed", record->url.c_str());
        Finish(0);
        return -1;
    }
    if (record->callback) record->callback->OnTotalKnown(job_, size);
    job_->SetTotal(size);
    int64_t resume_offset = 0;
    if (!PrepareLocalFile(kAlwaysNewer, resume_offset)) {
        Finish(0);
        return -1;
    }
    log.Write(L"Reading file：%ls\n", record->transfer_file.c_str());
    uint8_t buffer[kReadSize];
    for (int64_t remaining = size; remaining > 0;) {
        if (CheckAborted()) {
            Finish(0);
            return -1;
        }
        const size_t want = size_t(std::min<int64_t>(remaining, int64_t(kReadSize)));
        int64_t got = 0;
        if (!manager->ReadUpdatePackage(pack, entry, buffer, want, got)) {
            const DWORD error = GetLastError();
            log.Write(L"ReadPackFile failed with error %d.", int(error));
            job_->SetErrorText(L"ReadPackFile failed, Error:" + SystemErrorText(error));
            Finish(0);
            return -1;
        }
        remaining -= got;
        if (record->callback) record->callback->OnProgress(job_, got);
        // The package ends before the entry does.
        if (got == 0) {
            Finish(0);
            return -1;
        }
        job_->AddDownloaded(got);
        const int delivered = DeliverUntilTaken(buffer, size_t(got));
        if (delivered == -2) {
            // The write thread has stopped on a disk error and will not complete the job.
            log.Write(L"%d|File write failed, stop.\n", Serial());
            Finish(0);
            job_->SetResult(kResultFailed);
            if (record->callback) record->callback->OnJobComplete(job_, 0);
            job_->SetState(kJobDone);
            return -1;
        }
        if (delivered != 1) {
            Finish(0);
            return -1;
        }
    }
    if (DeliverUntilTaken(buffer, 0) != 1) {
        Finish(0);
        return -1;
    }
    Finish(1);
    return 0;
}

}  // namespace velm
