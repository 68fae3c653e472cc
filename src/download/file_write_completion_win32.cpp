// The end of a transfer on the file write thread: the last block goes to disk, the size
// is checked, a ".cmp" container is decoded beside its final file and moved over it, and
// the job is completed (result, log line, the callback's completion, state Done).
#include "download/file_write_thread_win32.h"

#include "common/file_io.h"
#include "common/file_system.h"
#include "common/log.h"
#include "common/md5.h"
#include "common/system_error_win32.h"
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

int TFileWriteThread::PlacePlainTransfer() {
    LauncherLog& log = LauncherLog::Instance();
    const std::wstring transfer = TransferPath();
    const std::wstring& expected = job_->Record().expected_md5;
    std::wstring md5;
    if (!expected.empty()) {
        Md5Digest digest;
        if (!Md5File(transfer, digest)) {
            DWORD error = GetLastError();
            job_->SetErrorText(L"Read file failed, Error:" + SystemErrorText(error));
            DeleteFileW(transfer.c_str());
            return 0;
        }
        md5 = Md5ToHex(digest);
        if (!HashTextEquals(md5, expected)) {
            DeleteFileW(transfer.c_str());
            log.Write(L"%ls does not match its published MD5.\n", transfer.c_str());
            job_->SetErrorText(L"Downloaded file does not match its published MD5.");
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

int TFileWriteThread::DecodeTransfer() {
    LauncherLog& log = LauncherLog::Instance();
    const std::wstring transfer = TransferPath();
    job_->SetState(kJobUnpacking);
    log.DebugWrite(0, 0, L"正在解压缩 %ls\n", transfer.c_str());
    const std::wstring final_file = FinalPath();
    // Decoded beside the final file and moved over it only when whole: the file it
    // replaces (the player's copy of the old version) survives a container that
    // does not decode.
    const std::wstring staging = final_file + L".unpack";
    Md5 digest;
    // The container's prefix states its decoded size: a container that decodes to more is
    // not the file it names. The decoder gets one byte of room past it, so that an end
    // marker right at that size is still read, and the size is checked afterwards.
    uint64_t declared = kCmpNoDeclaredSize;
    uint64_t bound = job_->Record().max_decoded_bytes;
    if (ReadDeclaredSize(transfer, declared) && declared < bound) bound = declared + 1;
    // A cancel stops the decoder at its next block: the job ends now, not after
    // gigabytes, and its thread is never cut off by the owner's time limit.
    bool decoded = DecodeCmpFile(transfer, staging, bound, &digest, [this] { return Aborted(); }) == 0;
    if (decoded && declared != kCmpNoDeclaredSize && uint64_t(FileSize(staging)) > declared) {
        decoded = false;
        SetLastError(ERROR_INVALID_DATA);
    }
    if (!decoded && Aborted()) {
        DeleteFileW(staging.c_str());
        log.Write(L"Job aborted.\n");
        job_->SetErrorText(L"Job aborted.");
        return 0;
    }
    const std::wstring decoded_md5 = decoded ? Md5ToHex(digest.Finish()) : std::wstring();
    const std::wstring& expected = job_->Record().expected_md5;
    if (decoded && !expected.empty() && !HashTextEquals(decoded_md5, expected)) {
        DeleteFileW(staging.c_str());
        DeleteFileW(transfer.c_str());
        log.Write(L"%ls decodes to a file that does not match its published MD5.\n", transfer.c_str());
        job_->SetErrorText(L"Decompressed file does not match its published MD5.");
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
