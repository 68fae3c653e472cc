// The end of a transfer on the file write thread: the last block goes to disk, the size
// is checked, a ".cmp" container is decoded beside its final file and moved over it, and
// the job is completed (result, log line, the callback's completion, state Done).
#include "download/file_write_thread_win32.h"

#include "common/file_io.h"
#include "common/file_system.h"
#include "common/log.h"
#include "common/system_error_win32.h"
#include "download/content_check_win32.h"
#include "download/download_job_win32.h"
#include "formats/cmp_container.h"

namespace velm {
namespace {

bool ReadDeclaredSize(const std::wstring& container, uint64_t& declared) {
    uint8_t header[kCmpHeaderSize];
    FileHandle file = OpenFile(container, FileMode::kRead);
    if (!file || std::fread(header, 1, sizeof(header), file.get()) != sizeof(header)) return false;
    declared = CmpDeclaredSize(header);
    return true;
}

}  // namespace

void TFileWriteThread::Complete(bool complete) {
    const int ok = complete ? SettleTransfer() : 0;
    CloseFiles();
    int placed = 0;
    if (ok)
        placed = PlaceTransfer();
    else
        DiscardTransfer();
    ReportCompletion(ok, placed);
}

// Writes what is still buffered and checks the file's size against the total. 1 or 0.
// The transfer is not flushed to disk here: what is placed is flushed on its way into
// place (a plain transfer is moved, flushed first; a container is decoded into a file that
// is flushed and moved, and is itself deleted), so a flush here would be the same or a
// wasted one. Under Wine a flush is an fsync inside the one server all threads wait on.
int TFileWriteThread::SettleTransfer() {
    // A failed write has its own error text; the size it leaves is no news.
    if (!FlushData()) return 0;
    int ok = 1;
    LARGE_INTEGER size{};
    if (!data_file_ || !GetFileSizeEx(data_file_.Get(), &size)) size.QuadPart = -1;
    const int64_t total = job_->GetTotal();
    if (total != 0 && size.QuadPart != total) {
        job_->SetErrorText(L"Size of downloaded file dose not match.");
        LauncherLog::Instance().DebugWrite(0, 0, L"文件大小匹配失败: %ls %lld %lld\n",
                                           TransferPath().c_str(), (long long)total,
                                           (long long)size.QuadPart);
        ok = 0;
    }
    return ok;
}

bool TFileWriteThread::Aborted() const { return handoff_.AbortRequested() || StopRequested(); }

// The record has served its purpose once the transfer is whole. Either kind of transfer
// was staged beside the final file; it goes over it only once it is whole, checked and on
// disk. 1 when the file is in its place.
int TFileWriteThread::PlaceTransfer() {
    DeleteFileW(record_path_.c_str());
    if (job_->Flags() & kJobFlagCompressed) return DecodeTransfer();
    return PlacePlainTransfer();
}

// A plain transfer is read back once when there is anything to check it against.
int TFileWriteThread::PlacePlainTransfer() {
    LauncherLog& log = LauncherLog::Instance();
    const std::wstring transfer = TransferPath();
    const TDownloadJobBase::DownloadRecord& record = job_->Record();
    std::wstring md5;
    if (!record.expected_md5.empty() || record.expected_content.present) {
        ContentCheck check(record.expected_md5, record.expected_content);
        if (!CheckFileContent(transfer, check)) {
            DWORD error = GetLastError();
            job_->SetErrorText(L"Read file failed, Error:" + SystemErrorText(error));
            DeleteFileW(transfer.c_str());
            return 0;
        }
        const ContentVerdict verdict = check.Finish(md5);
        if (verdict != ContentVerdict::kMatches) {
            DeleteFileW(transfer.c_str());
            log.Write(L"%ls does not match %ls.\n", transfer.c_str(), ContentVerdictText(verdict));
            job_->SetErrorText(std::wstring(L"Downloaded file does not match ") + ContentVerdictText(verdict) + L".");
            return 0;
        }
    }
    if (!CommitStagedFile(transfer, FinalPath())) {
        DWORD error = GetLastError();
        log.Write(L"%ls could not replace %ls, Err: %d\n", transfer.c_str(), FinalPath().c_str(), int(error));
        job_->SetErrorText(L"Replace file failed, Error:" + SystemErrorText(error));
        DeleteFileW(transfer.c_str());
        return 0;
    }
    job_->Record().decoded_md5 = md5;
    return 1;
}

// The decoded size is bounded before a byte is decoded: by the size the file list gives
// when it gives one, else by what the container's prefix states (untrusted, but a
// container that decodes to more is not the file it names) within the job's own bound.
// The decoder gets one byte of room past it, so that an end marker right at that size is
// still read, and the size is checked afterwards.
uint64_t TFileWriteThread::DecodeBound(uint64_t& declared) const {
    const TDownloadJobBase::DownloadRecord& record = job_->Record();
    declared = kCmpNoDeclaredSize;
    if (record.expected_content.present) return record.expected_content.size + 1;
    uint64_t bound = record.max_decoded_bytes;
    if (ReadDeclaredSize(TransferPath(), declared) && declared < bound) bound = declared + 1;
    return bound;
}

int TFileWriteThread::DecodeTransfer() {
    LauncherLog& log = LauncherLog::Instance();
    const std::wstring transfer = TransferPath();
    job_->SetState(kJobUnpacking);
    log.DebugWrite(0, 0, L"正在解压缩 %ls\n", transfer.c_str());
    const std::wstring final_file = FinalPath();
    // Decoded beside the final file and moved over it only when whole and checked: the
    // file it replaces (the player's copy of the old version) survives a container that
    // does not decode, or decodes to anything but the published file.
    const std::wstring staging = final_file + L".unpack";
    const TDownloadJobBase::DownloadRecord& record = job_->Record();
    ContentCheck check(record.expected_md5, record.expected_content);
    uint64_t declared = kCmpNoDeclaredSize;
    const uint64_t bound = DecodeBound(declared);
    // A cancel stops the decoder at its next block: the job ends now, not after
    // gigabytes, and its thread is never cut off by the owner's time limit.
    const auto take = [this, &check](const uint8_t* block, size_t size) {
        if (Aborted()) return false;
        check.Update(block, size);
        return true;
    };
    bool decoded = DecodeCmpFile(transfer, staging, bound, take) == 0;
    if (decoded && declared != kCmpNoDeclaredSize && check.Size() > declared) {
        decoded = false;
        SetLastError(ERROR_INVALID_DATA);
    }
    if (!decoded && Aborted()) {
        DeleteFileW(staging.c_str());
        log.Write(L"Job aborted.\n");
        job_->SetErrorText(L"Job aborted.");
        return 0;
    }
    std::wstring decoded_md5;
    const ContentVerdict verdict = decoded ? check.Finish(decoded_md5) : ContentVerdict::kMatches;
    if (verdict != ContentVerdict::kMatches) {
        DeleteFileW(staging.c_str());
        DeleteFileW(transfer.c_str());
        log.Write(L"%ls decodes to a file that does not match %ls.\n", transfer.c_str(), ContentVerdictText(verdict));
        job_->SetErrorText(std::wstring(L"Decompressed file does not match ") + ContentVerdictText(verdict) + L".");
        return 0;
    }
    if (decoded && CommitStagedFile(staging, final_file)) {
        job_->Record().decoded_md5 = decoded_md5;
        DeleteFileW(transfer.c_str());
        log.DebugWrite(0, 0, L"解压缩 %ls 成功\n", transfer.c_str());
        return 1;
    }
    DWORD error = GetLastError();
    // The container stays for inspection; a half-decoded file must not pass for the real one.
    DeleteFileW(staging.c_str());
    log.DebugWrite(0, 0, L"解压缩 %ls 失败, Err: %d\n", transfer.c_str(), int(error));
    job_->SetErrorText(L"Decompress failed, Error:" + SystemErrorText(error));
    return 0;
}

void TFileWriteThread::DiscardTransfer() {
    DeleteFileW(record_path_.c_str());
    DeleteFileW(TransferPath().c_str());
}

void TFileWriteThread::ReportCompletion(int ok, int placed) {
    LauncherLog& log = LauncherLog::Instance();
    const std::wstring transfer = TransferPath();
    const bool succeeded = ok && placed;
    log.Write(succeeded ? L"%ls 下载完成.\n" : L"%ls 下载失败.\n", transfer.c_str());
    job_->ReportEnd(succeeded ? kResultSucceeded : kResultFailed);
}

}  // namespace velm
