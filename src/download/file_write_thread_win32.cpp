#include "download/file_write_thread_win32.h"

#include <algorithm>
#include <cstring>

#include "common/log.h"
#include "common/system_error_win32.h"
#include "download/download_job_win32.h"
#include "formats/resume_record.h"

namespace velm {
namespace {

constexpr DWORD kEndWaitMs = 5000;
// Blocks written between two flushes to disk. Each block's record entry is written with
// the block, before that flush: the resume check hashes every block again, so an entry
// whose block never reached the disk only ends the resume there, and a killed process
// loses at most the block it was writing.
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

// Creates path afresh, and its folders only when they are missing: usually they exist,
// and under Wine every folder asked for is a server round trip.
HANDLE CreateNewFile(const std::wstring& path, DWORD attributes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, attributes, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_PATH_NOT_FOUND) return file;
    CreateParentFolders(path);
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, attributes, nullptr);
}

void ClearReadOnly(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(path.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
}

// A write that takes fewer bytes than it was given succeeds without an error code; the
// only reason a local file takes less is a full disk (or a file size limit), so that is
// what it reports instead of "operation completed".
bool WriteAll(HANDLE file, const void* data, size_t size) {
    DWORD written = 0;
    if (!WriteFile(file, data, DWORD(size), &written, nullptr)) return false;
    if (written == size) return true;
    SetLastError(ERROR_DISK_FULL);
    return false;
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
    handoff_.Abort();
    Stop(kEndWaitMs);
}

void TFileWriteThread::SetJob(TDownloadJobBase* job) {
    TWorkerThread::SetJob(job);
    handoff_.Reset();
    write_failed_ = false;
    data_block_.assign(size_t(kResumeBlockSize), 0);
    ResetBlocks();
}

ChunkHandoff::Offered TFileWriteThread::Handoff(const uint8_t* data, size_t length) {
    const ChunkHandoff::Offered offered = handoff_.Offer(data, length);
    if (offered == ChunkHandoff::Offered::kTaken) {
        LauncherLog& log = LauncherLog::Instance();
        log.DebugWrite(10, 0, L"buffer empty wait\n");
        log.DebugWrite(10, 0, L"buffer full release\n");
    }
    return offered;
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
    const std::wstring transfer = TransferPath();
    record_path_ = transfer + kResumeRecordSuffix;
    ClearReadOnly(record_path_);
    ClearReadOnly(transfer);
    CloseFiles();
    // A transfer that fits in one block gains nothing from a record: a record vouches for
    // whole blocks only, so an interrupted one always starts again from byte 0.
    const int64_t total = job_->GetTotal();
    const bool wants_record = valid_entries > 0 || total <= 0 || total > kResumeBlockSize;
    if (wants_record && !(valid_entries > 0 ? ReopenRecord(valid_entries) : CreateRecord())) {
        LauncherLog::Instance().Write(L"Create hashrecord file %ls failed, can't log for resume.\n",
                                      record_path_.c_str());
        valid_entries = 0;
        resume_offset = 0;
    }
    if (!OpenDataFile(transfer, valid_entries > 0 && resume_offset > 0)) return 0;
    if (resume_offset > 0) CutDataFileAt(resume_offset);
    ResetBlocks();
    return 1;
}

// Entries past the resume point vouch for an older attempt: they are cut off. 1 or 0.
int TFileWriteThread::ReopenRecord(int64_t valid_entries) {
    record_file_.Reset(CreateFileW(record_path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_HIDDEN, nullptr));
    if (record_file_ && (!MoveTo(record_file_.Get(), int64_t(kResumeHeaderSize) +
                                                      int64_t(kResumeEntrySize) * valid_entries) ||
                         !SetEndOfFile(record_file_.Get())))
        record_file_.Close();
    return record_file_ ? 1 : 0;
}

// A new record starts with its header. A header that cannot be written is only logged:
// the record exists to resume, and the transfer goes on without it.
int TFileWriteThread::CreateRecord() {
    record_file_.Reset(CreateNewFile(record_path_, FILE_ATTRIBUTE_HIDDEN));
    if (!record_file_) return 0;
    ResumeHeader header;
    header.created = SystemTimeAsFileTime();
    uint8_t bytes[kResumeHeaderSize];
    EncodeResumeHeader(header, bytes);
    if (!WriteAll(record_file_.Get(), bytes, sizeof(bytes)))
        LauncherLog::Instance().Write(kWriteHashFailed, record_path_.c_str(), int(GetLastError()));
    return 1;
}

// Keeps the partial file of an earlier attempt, or starts an empty one. 1 or 0.
int TFileWriteThread::OpenDataFile(const std::wstring& transfer, bool keep_existing) {
    if (keep_existing) {
        data_file_.Reset(CreateFileW(transfer.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    } else {
        data_file_.Reset(CreateNewFile(transfer, FILE_ATTRIBUTE_NORMAL));
    }
    if (data_file_) return 1;
    DWORD error = GetLastError();
    LauncherLog::Instance().Write(L"Create file %ls failed! Err: %d\n", transfer.c_str(), int(error));
    job_->SetErrorText(L"Create file failed, Error" + SystemErrorText(error));
    return 0;
}

void TFileWriteThread::CutDataFileAt(int64_t offset) {
    if (!MoveTo(data_file_.Get(), offset)) MoveTo(data_file_.Get(), 0);
    // Bytes past the resume point are rewritten anyway; keeping them would make a
    // transfer that ends early look longer than it is.
    SetEndOfFile(data_file_.Get());
}

void TFileWriteThread::ResetBlocks() {
    data_fill_ = 0;
    unsynced_blocks_ = 0;
}

Thread::Step TFileWriteThread::Run() {
    for (;;) {
        switch (handoff_.Take()) {
        case ChunkHandoff::Took::kChunk:
            TakeChunk(handoff_.Data(), handoff_.Length());
            if (write_failed_) {
                // Nothing more can be written: the job ends here with the write's error
                // text, and the download thread finds the handoff closed.
                handoff_.Close();
                CloseFiles();
                DiscardTransfer();
                ReportCompletion(0, 0);
                return Step::kDone;
            }
            handoff_.Taken();
            break;
        case ChunkHandoff::Took::kAborted:
            // The unwritten tail of the data block is dropped: it has no entry yet, so the
            // record vouches for exactly the blocks on disk.
            handoff_.Close();
            SyncToDisk();
            CloseFiles();
            return Step::kDone;
        case ChunkHandoff::Took::kEndOfData:
            handoff_.Close();
            Complete(true);
            return Step::kDone;
        case ChunkHandoff::Took::kInputEnded:
            handoff_.Close();
            Complete(handoff_.InputComplete());
            return Step::kDone;
        }
    }
}

void TFileWriteThread::TakeChunk(const uint8_t* chunk, size_t length) {
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
}

// Record blocks and data blocks have the same size and both start at the resume point,
// which is always a block boundary, so each written data block is one record entry.
void TFileWriteThread::WriteRecordEntry(const uint8_t* block, size_t length) {
    if (!record_file_) return;
    ResumeEntry entry;
    entry.length = int64_t(length);
    entry.digest = Md5Bytes(block, length);
    uint8_t bytes[kResumeEntrySize];
    EncodeResumeEntry(entry, bytes);
    if (WriteAll(record_file_.Get(), bytes, sizeof(bytes))) return;
    // Without its record the transfer still completes; it only cannot be resumed.
    DWORD error = GetLastError();
    job_->SetErrorText(L"File write failed, Error:" + SystemErrorText(error));
    LauncherLog::Instance().Write(kWriteHashFailed, record_path_.c_str(), int(error));
    record_file_.Close();
}

int TFileWriteThread::SyncToDisk() {
    unsynced_blocks_ = 0;
    if (data_file_ && !FlushFileBuffers(data_file_.Get())) {
        DWORD error = GetLastError();
        LauncherLog::Instance().Write(kFlushDiskFailed, TransferPath().c_str(), int(error));
        job_->SetErrorText(L"File write to disk failed, Error:" + SystemErrorText(error));
        return 0;
    }
    if (record_file_ && !FlushFileBuffers(record_file_.Get())) {
        DWORD error = GetLastError();
        job_->SetErrorText(L"File write failed, Error:" + SystemErrorText(error));
        LauncherLog::Instance().Write(kWriteHashFailed, record_path_.c_str(), int(error));
        record_file_.Close();
    }
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
    WriteRecordEntry(data_block_.data(), data_fill_);
    data_fill_ = 0;
    if (++unsynced_blocks_ >= kBlocksPerSync) return SyncToDisk();
    return 1;
}

void TFileWriteThread::CloseFiles() {
    record_file_.Close();
    data_file_.Close();
}

}  // namespace velm
