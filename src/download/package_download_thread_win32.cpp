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
    auto* record = reinterpret_cast<TDownloadJobBase::DownloadRecord*>(argument);
    if (!record) {
        Finish(0);
        return -1;
    }
    job_ = record->job;
    CSTDownloadManager* manager = job_->Manager();
    if (!manager || !manager->IsInUpdatePackages(record->url)) {
        LauncherLog::Instance().Write(
            L"file \"%ls\" not in update package, you should update it in launcher later.\n",
            record->url.c_str());
        // Nothing is written: the write thread ends without touching a file.
        StopWriter();
        job_->ReportEnd(kResultSucceeded);
        return 0;
    }
    return EndRun(record, StreamEntry(record));
}

TWinInetDownloadThread::Step TWinInetUpdatePackageDownloadThread::StreamEntry(
    TDownloadJobBase::DownloadRecord* record) {
    LauncherLog& log = LauncherLog::Instance();
    CSTDownloadManager* manager = job_->Manager();
    const PackFile* pack = nullptr;
    int64_t size = 0;
    PackEntryHandle entry;
    if (manager) entry = manager->OpenInUpdatePackages(record->url, pack, nullptr, &size);
    if (!entry.Valid()) {
        log.Write(L"OpenPackFile %ls failed", record->url.c_str());
        return kFailed;
    }
    if (record->callback) record->callback->OnTotalKnown(job_, size);
    job_->SetTotal(size);
    int64_t resume_offset = 0;
    if (!PrepareLocalFile(kAlwaysNewer, resume_offset)) return kFailed;
    log.Write(L"Reading file：%ls\n", record->transfer_file.c_str());
    uint8_t buffer[kReadSize];
    const Step copied = CopyEntry(record, *manager, pack, entry, size, buffer);
    if (copied != kNext) return copied;
    const int delivered = DeliverUntilTaken(buffer, 0);
    if (delivered == -2) return kWriteFailed;
    return delivered == 1 ? kSucceeded : kFailed;
}

// Hands the entry's size bytes to the write thread, chunk by chunk; kNext when all went.
TWinInetDownloadThread::Step TWinInetUpdatePackageDownloadThread::CopyEntry(
    TDownloadJobBase::DownloadRecord* record, CSTDownloadManager& manager, const PackFile* pack,
    PackEntryHandle& entry, int64_t size, uint8_t (&buffer)[kReadSize]) {
    for (int64_t remaining = size; remaining > 0;) {
        if (CheckAborted()) return kFailed;
        const size_t want = size_t(std::min<int64_t>(remaining, int64_t(kReadSize)));
        int64_t got = 0;
        if (!manager.ReadUpdatePackage(pack, entry, buffer, want, got)) {
            const DWORD error = GetLastError();
            LauncherLog::Instance().Write(L"ReadPackFile failed with error %d.", int(error));
            job_->SetErrorText(L"ReadPackFile failed, Error:" + SystemErrorText(error));
            return kFailed;
        }
        remaining -= got;
        if (record->callback) record->callback->OnProgress(job_, got);
        // The package ends before the entry does.
        if (got == 0) return kFailed;
        job_->AddDownloaded(got);
        const int delivered = DeliverUntilTaken(buffer, size_t(got));
        if (delivered == -2) return kWriteFailed;
        if (delivered != 1) return kFailed;
    }
    return kNext;
}

}  // namespace velm
