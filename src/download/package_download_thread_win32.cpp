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

Thread::Step TWinInetUpdatePackageDownloadThread::Run() {
    TDownloadJobBase::DownloadRecord& record = job_->Record();
    CSTDownloadManager* manager = job_->Manager();
    if (!manager || !manager->IsInUpdatePackages(record.url)) {
        LauncherLog::Instance().Write(
            L"file \"%ls\" not in update package, you should update it in launcher later.\n",
            record.url.c_str());
        // Nothing is written: the write thread ends without touching a file.
        StopWriter();
        job_->ReportEnd(kResultSucceeded);
        return Step::kDone;
    }
    EndRun(StreamEntry(record));
    return Step::kDone;
}

TWinInetDownloadThread::Outcome TWinInetUpdatePackageDownloadThread::StreamEntry(
    TDownloadJobBase::DownloadRecord& record) {
    LauncherLog& log = LauncherLog::Instance();
    CSTDownloadManager* manager = job_->Manager();
    const PackFile* pack = nullptr;
    int64_t size = 0;
    PackEntryHandle entry;
    if (manager) entry = manager->OpenInUpdatePackages(record.url, pack, nullptr, &size);
    if (!entry.Valid()) {
        log.Write(L"OpenPackFile %ls failed", record.url.c_str());
        return Outcome::kFailed;
    }
    if (record.callback) record.callback->OnTotalKnown(job_, size);
    job_->SetTotal(size);
    int64_t resume_offset = 0;
    if (!PrepareLocalFile(kAlwaysNewer, resume_offset)) return Outcome::kFailed;
    log.Write(L"Reading file：%ls\n", record.transfer_file.c_str());
    uint8_t buffer[kReadSize];
    const Outcome copied = CopyEntry(record, *manager, pack, entry, size, buffer);
    if (copied != Outcome::kNext) return copied;
    const Outcome delivered = Deliver(buffer, 0);
    return delivered == Outcome::kNext ? Outcome::kSucceeded : delivered;
}

// Hands the entry's size bytes to the write thread, chunk by chunk; kNext when all went.
TWinInetDownloadThread::Outcome TWinInetUpdatePackageDownloadThread::CopyEntry(
    TDownloadJobBase::DownloadRecord& record, CSTDownloadManager& manager, const PackFile* pack,
    PackEntryHandle& entry, int64_t size, uint8_t (&buffer)[kReadSize]) {
    for (int64_t remaining = size; remaining > 0;) {
        if (CheckAborted()) return Outcome::kFailed;
        const size_t want = size_t(std::min<int64_t>(remaining, int64_t(kReadSize)));
        int64_t got = 0;
        if (!manager.ReadUpdatePackage(pack, entry, buffer, want, got)) {
            const DWORD error = GetLastError();
            LauncherLog::Instance().Write(L"ReadPackFile failed with error %d.", int(error));
            job_->SetErrorText(L"ReadPackFile failed, Error:" + SystemErrorText(error));
            return Outcome::kFailed;
        }
        remaining -= got;
        if (record.callback) record.callback->OnProgress(job_, got);
        // The package ends before the entry does.
        if (got == 0) return Outcome::kFailed;
        job_->AddDownloaded(got);
        const Outcome delivered = Deliver(buffer, size_t(got));
        if (delivered != Outcome::kNext) return delivered;
    }
    return Outcome::kNext;
}

}  // namespace velm
