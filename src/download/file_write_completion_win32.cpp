// The end of a transfer on the file write thread: the last block goes to disk, the size
// is checked, a ".cmp" container is decoded beside its final file and moved over it, and
// the job is completed (result, log line, the callback's completion, state Done).
#include "download/file_write_thread_win32.h"

#include "common/file_system.h"
#include "common/log.h"
#include "common/system_error_win32.h"
#include "download/download_job_win32.h"
#include "formats/cmp_container.h"

namespace velm {

void TFileWriteThread::Complete() {
    const int ok = end_status_ == 1 ? SettleTransfer() : 0;
    CloseFiles();
    int placed = 0;
    if (ok)
        placed = PlaceTransfer();
    else
        DiscardTransfer();
    ReportCompletion(ok, placed);
}

// Writes what is still buffered and checks the file's size against the total. 1 or 0.
int TFileWriteThread::SettleTransfer() {
    int ok = 1;
    if (!FlushData()) ok = 0;
    QueueRecordEntry();
    if (!SyncToDisk()) ok = 0;
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

// The record has served its purpose once the transfer is whole. 1 when the file is in
// its place.
int TFileWriteThread::PlaceTransfer() {
    DeleteFileW(record_path_.c_str());
    if (!(job_->Flags() & kJobFlagCompressed)) return 1;
    return DecodeTransfer();
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
    const bool decoded = DecodeCmpFile(transfer, staging, kMaxCmpDecodedBytes, &digest) == 0;
    const std::wstring decoded_md5 = decoded ? Md5ToHex(digest.Finish()) : std::wstring();
    const std::wstring& expected = job_->Record().expected_md5;
    if (decoded && !expected.empty() && !HashTextEquals(decoded_md5, expected)) {
        DeleteFileW(staging.c_str());
        DeleteFileW(transfer.c_str());
        log.Write(L"%ls decodes to a file that does not match its published MD5.\n", transfer.c_str());
        job_->SetErrorText(L"Decompressed file does not match its published MD5.");
        return 0;
    }
    if (decoded && ReplaceFileAtomically(staging, final_file)) {
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
    if (placed) {
        log.Write(L"%ls 下载完成.\n", transfer.c_str());
        job_->SetResult(kResultSucceeded);
    } else {
        log.Write(L"%ls 下载失败.\n", transfer.c_str());
        job_->SetResult(kResultFailed);
    }
    if (auto* callback = job_->Record().callback) callback->OnJobComplete(job_, ok && placed ? 1 : 0);
    job_->SetState(kJobDone);
}

}  // namespace velm
