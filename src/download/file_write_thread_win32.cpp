#include "download/file_write_thread_win32.h"

#include <algorithm>
#include <cstring>

#include "common/file_system.h"
#include "common/log.h"
#include "common/system_error_win32.h"
#include "formats/cmp_container.h"
#include "download/download_job_win32.h"
#include "formats/resume_record.h"

namespace velm {
namespace {

constexpr DWORD kHandoffWaitMs = 10;
constexpr DWORD kEndWaitMs = 5000;
// Blocks written between two flushes to disk. Record entries wait for the flush that
// covers their block, so the record never vouches for bytes that are not on disk.
constexpr int kBlocksPerSync = 16;

// Log texts shared with the string table (resources 135 to 140).
constexpr const wchar_t* kWriteFileFailed = L"写入文件失败！文件：%ls错误码：%d\n";
constexpr const wchar_t* kFlushDiskFailed = L"写入磁盘失败！文件：%ls错误码：%d\n";
constexpr const wchar_t* kWriteHashFailed = L"写入Hash失败！文件：%ls错误码：%d\n";
constexpr const wchar_t* kLocalFileChanged = L"未完成的本地文件 %ls 已被修改，重新下载。\n";

// Creates every folder above path (the file itself is not created).
void CreateParentFolders(const std::wstring& path) {
    for (size_t at = path.find_first_of(L"\\/", 1); at != std::wstring::npos;
         at = path.find_first_of(L"\\/", at + 1)) {
        std::wstring folder = path.substr(0, at);
        if (folder.empty() || folder.back() == L':') continue;
        CreateDirectoryW(folder.c_str(), nullptr);
    }
}

void ClearReadOnly(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(path.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
}

bool WriteAll(HANDLE file, const void* data, size_t size) {
    DWORD written = 0;
    return WriteFile(file, data, DWORD(size), &written, nullptr) && written == size;
}

bool MoveTo(HANDLE file, int64_t offset) {
    LARGE_INTEGER position;
    position.QuadPart = offset;
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) != 0;
}

uint64_t SystemTimeAsFileTime() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return uint64_t(now.dwHighDateTime) << 32 | now.dwLowDateTime;
}

}  // namespace

TFileWriteThread::~TFileWriteThread() {
    abort_requested_ = true;
    Stop(kEndWaitMs);
}

void TFileWriteThread::SetJob(TDownloadJobBase* job) {
    TWorkerThread::SetJob(job);
    abort_requested_ = false;
    handoff_.assign(kChunkSize, 0);
    handoff_length_ = 0;
    empty_.Close();
    full_.Close();
    empty_.Create(1, 1);
    full_.Create(0, 1);
    input_ended_ = 0;
    end_status_ = 0;
    write_failed_ = false;
    record_md5_ = Md5();
    record_fill_ = 0;
    pending_entries_.clear();
    data_block_.assign(size_t(kResumeBlockSize), 0);
    data_fill_ = 0;
    unsynced_blocks_ = 0;
}

int TFileWriteThread::Handoff(const uint8_t* data, size_t length) {
    if (write_failed_) return -1;
    if (length > kChunkSize) return 0;
    if (!empty_.Wait(kHandoffWaitMs)) return 0;
    LauncherLog& log = LauncherLog::Instance();
    log.DebugWrite(10, 0, L"buffer empty wait\n");
    if (length > 0) std::memcpy(handoff_.data(), data, length);
    handoff_length_ = length;
    full_.Release();
    log.DebugWrite(10, 0, L"buffer full release\n");
    return 1;
}

void TFileWriteThread::SignalAbort() { abort_requested_ = true; }

void TFileWriteThread::SetEnd(int status) {
    end_status_ = status;
    input_ended_ = 1;
}

std::wstring TFileWriteThread::TransferPath() const { return job_->Record().transfer_file; }

std::wstring TFileWriteThread::FinalPath() const { return job_->Record().final_file; }

int TFileWriteThread::PrepareLocalFile(uint64_t last_modified, int64_t& resume_offset) {
    resume_offset = 0;
    const std::wstring transfer = TransferPath();
    ResumeCheck check = CheckResumeRecord(transfer + kResumeRecordSuffix, transfer, last_modified);
    if (check.outdated) LauncherLog::Instance().Write(kLocalFileChanged, transfer.c_str());
    resume_offset = check.outdated ? 0 : check.offset;
    return Open(check.outdated ? 0 : check.valid_entries, resume_offset);
}

int TFileWriteThread::Open(int64_t valid_entries, int64_t& resume_offset) {
    LauncherLog& log = LauncherLog::Instance();
    const std::wstring transfer = TransferPath();
    record_path_ = transfer + kResumeRecordSuffix;
    ClearReadOnly(record_path_);
    ClearReadOnly(transfer);
    record_file_.Close();
    data_file_.Close();
    if (valid_entries > 0) {
        record_file_.Reset(CreateFileW(record_path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_HIDDEN, nullptr));
        // Entries past the resume point vouch for an older attempt: cut them off.
        if (record_file_ && (!MoveTo(record_file_.Get(), int64_t(kResumeHeaderSize) +
                                                          int64_t(kResumeEntrySize) * valid_entries) ||
                             !SetEndOfFile(record_file_.Get())))
            record_file_.Close();
    } else {
        CreateParentFolders(record_path_);
        record_file_.Reset(CreateFileW(record_path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                       nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr));
        if (record_file_) {
            ResumeHeader header;
            header.created = SystemTimeAsFileTime();
            uint8_t bytes[kResumeHeaderSize];
            EncodeResumeHeader(header, bytes);
            if (!WriteAll(record_file_.Get(), bytes, sizeof(bytes)))
                log.Write(kWriteHashFailed, record_path_.c_str(), int(GetLastError()));
        }
    }
    if (!record_file_) {
        log.Write(L"Create hashrecord file %ls failed, can't log for resume.\n", record_path_.c_str());
        valid_entries = 0;
        resume_offset = 0;
    }
    if (valid_entries > 0 && resume_offset > 0) {
        data_file_.Reset(CreateFileW(transfer.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    } else {
        CreateParentFolders(transfer);
        data_file_.Reset(CreateFileW(transfer.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    if (!data_file_) {
        DWORD error = GetLastError();
        log.Write(L"Create file %ls failed! Err: %d\n", transfer.c_str(), int(error));
        job_->SetErrorText(L"Create file failed, Error" + SystemErrorText(error));
        return 0;
    }
    if (resume_offset > 0) {
        if (!MoveTo(data_file_.Get(), resume_offset)) MoveTo(data_file_.Get(), 0);
        // Bytes past the resume point are rewritten anyway; keeping them would make a
        // transfer that ends early look longer than it is.
        SetEndOfFile(data_file_.Get());
    }
    record_md5_ = Md5();
    record_fill_ = 0;
    pending_entries_.clear();
    data_fill_ = 0;
    unsynced_blocks_ = 0;
    return 1;
}

int TFileWriteThread::Run(uintptr_t) {
    for (;;) {
        if (abort_requested_ || StopRequested()) {
            // The unwritten tail of the data block is dropped, and so is its entry: it could
            // only vouch for bytes that never reach the file.
            SyncToDisk();
            CloseFiles();
            return 0;
        }
        if (!input_ended_ && end_status_ != 1 && !full_.Wait(kHandoffWaitMs)) continue;
        TakeChunk();
        if (write_failed_) {
            CloseFiles();
            return 0;
        }
        empty_.Release();
        if (input_ended_ || end_status_ == 1) break;
    }
    Complete();
    return 0;
}

void TFileWriteThread::TakeChunk() {
    const uint8_t* chunk = handoff_.data();
    const size_t length = handoff_length_;
    // Taken once: a pass after Finish must not see the same bytes again.
    handoff_length_ = 0;
    // Data first: a record entry is written only once the bytes it vouches for are on disk.
    size_t done = 0;
    while (done < length) {
        size_t take = std::min(length - done, data_block_.size() - data_fill_);
        std::memcpy(data_block_.data() + data_fill_, chunk + done, take);
        data_fill_ += take;
        done += take;
        if (data_fill_ == data_block_.size() && !FlushData()) {
            write_failed_ = true;
            return;
        }
    }
    if (!record_file_) return;
    done = 0;
    while (done < length) {
        size_t take = size_t(std::min<int64_t>(int64_t(length - done), kResumeBlockSize - record_fill_));
        record_md5_.Update(chunk + done, take);
        record_fill_ += int64_t(take);
        done += take;
        if (record_fill_ == kResumeBlockSize) QueueRecordEntry();
    }
}

void TFileWriteThread::QueueRecordEntry() {
    if (!record_file_ || record_fill_ == 0) return;
    ResumeEntry entry;
    entry.length = record_fill_;
    entry.digest = record_md5_.Finish();
    record_md5_ = Md5();
    record_fill_ = 0;
    uint8_t bytes[kResumeEntrySize];
    EncodeResumeEntry(entry, bytes);
    pending_entries_.insert(pending_entries_.end(), bytes, bytes + kResumeEntrySize);
}

int TFileWriteThread::SyncToDisk() {
    unsynced_blocks_ = 0;
    if (data_file_ && !FlushFileBuffers(data_file_.Get())) {
        DWORD error = GetLastError();
        LauncherLog::Instance().Write(kFlushDiskFailed, TransferPath().c_str(), int(error));
        job_->SetErrorText(L"File write to disk failed, Error:" + SystemErrorText(error));
        pending_entries_.clear();
        return 0;
    }
    if (!record_file_ || pending_entries_.empty()) {
        pending_entries_.clear();
        return 1;
    }
    const bool written = WriteAll(record_file_.Get(), pending_entries_.data(), pending_entries_.size()) &&
                         FlushFileBuffers(record_file_.Get());
    pending_entries_.clear();
    if (written) return 1;
    // Without its record the transfer still completes; it only cannot be resumed.
    DWORD error = GetLastError();
    job_->SetErrorText(L"File write failed, Error:" + SystemErrorText(error));
    LauncherLog::Instance().Write(kWriteHashFailed, record_path_.c_str(), int(error));
    record_file_.Close();
    return 1;
}

int TFileWriteThread::FlushData() {
    if (data_fill_ == 0) return 1;
    LauncherLog& log = LauncherLog::Instance();
    const std::wstring transfer = TransferPath();
    if (!data_file_ || !WriteAll(data_file_.Get(), data_block_.data(), data_fill_)) {
        DWORD error = GetLastError();
        log.Write(kWriteFileFailed, transfer.c_str(), int(error));
        job_->SetErrorText(L"Write file failed, Error:" + SystemErrorText(error));
        return 0;
    }
    data_fill_ = 0;
    if (++unsynced_blocks_ >= kBlocksPerSync) return SyncToDisk();
    return 1;
}

void TFileWriteThread::Complete() {
    LauncherLog& log = LauncherLog::Instance();
    TDownloadJobBase* job = job_;
    const std::wstring transfer = TransferPath();
    int ok = 1;
    if (end_status_ == 1) {
        if (!FlushData()) ok = 0;
        QueueRecordEntry();
        if (!SyncToDisk()) ok = 0;
        LARGE_INTEGER size{};
        if (!data_file_ || !GetFileSizeEx(data_file_.Get(), &size)) size.QuadPart = -1;
        const int64_t total = job->GetTotal();
        if (total != 0 && size.QuadPart != total) {
            job->SetErrorText(L"Size of downloaded file dose not match.");
            log.DebugWrite(0, 0, L"文件大小匹配失败: %ls %lld %lld\n", transfer.c_str(),
                           (long long)total, (long long)size.QuadPart);
            ok = 0;
        }
    } else {
        ok = 0;
    }
    CloseFiles();
    int outcome = 0;
    if (ok) {
        DeleteFileW(record_path_.c_str());
        if (job->Flags() & kJobFlagCompressed) {
            job->SetState(kJobUnpacking);
            log.DebugWrite(0, 0, L"正在解压缩 %ls\n", transfer.c_str());
            const std::wstring final_file = FinalPath();
            // Decoded beside the final file and moved over it only when whole: the file it
            // replaces (the player's copy of the old version) survives a container that
            // does not decode.
            const std::wstring staging = final_file + L".unpack";
            Md5 digest;
            const bool decoded = DecodeCmpFile(transfer, staging, kMaxCmpDecodedBytes, &digest) == 0;
            const std::wstring decoded_md5 = decoded ? Md5ToHex(digest.Finish()) : std::wstring();
            const std::wstring& expected = job->Record().expected_md5;
            if (decoded && !expected.empty() && !HashTextEquals(decoded_md5, expected)) {
                DeleteFileW(staging.c_str());
                DeleteFileW(transfer.c_str());
                log.Write(L"%ls decodes to a file that does not match its published MD5.\n", transfer.c_str());
                job->SetErrorText(L"Decompressed file does not match its published MD5.");
            } else if (decoded && ReplaceFileAtomically(staging, final_file)) {
                job->Record().decoded_md5 = decoded_md5;
                DeleteFileW(transfer.c_str());
                log.DebugWrite(0, 0, L"解压缩 %ls 成功\n", transfer.c_str());
                outcome = 1;
            } else {
                DWORD error = GetLastError();
                // The container stays for inspection; a half-decoded file must not pass for
                // the real one.
                DeleteFileW(staging.c_str());
                log.DebugWrite(0, 0, L"解压缩 %ls 失败, Err: %d\n", transfer.c_str(), int(error));
                job->SetErrorText(L"Decompress failed, Error:" + SystemErrorText(error));
            }
        } else {
            outcome = 1;
        }
    } else {
        DeleteFileW(record_path_.c_str());
        DeleteFileW(transfer.c_str());
    }
    if (outcome) {
        log.Write(L"%ls 下载完成.\n", transfer.c_str());
        job->SetResult(kResultSucceeded);
    } else {
        log.Write(L"%ls 下载失败.\n", transfer.c_str());
        job->SetResult(kResultFailed);
    }
    if (auto* callback = job->Record().callback) callback->OnJobComplete(job, ok && outcome ? 1 : 0);
    job->SetState(kJobDone);
}

void TFileWriteThread::CloseFiles() {
    record_file_.Close();
    data_file_.Close();
}

}  // namespace velm
