#pragma once
// TFileWriteThread: writes the chunks a download thread receives to the job's transfer
// file in blocks of 113553 bytes, each flushed to disk, and keeps the ".ha" resume record
// beside it. At the end of the input it checks the size, decodes a ".cmp" transfer and
// completes the job (result, log line, the callback's completion, state Done).
//
// Threads: Handoff, SetEnd, Open and PrepareLocalFile are called by the job's download
// thread, SignalAbort by the download thread or the job's owner; Run is this thread. Open
// and PrepareLocalFile run while this thread is started but waiting for its first chunk,
// so the files are open before any data arrives. The download thread restarts it for
// every attempt after the first: SignalAbort, Join, SetJob, Start.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "common/handle_win32.h"
#include "common/md5.h"
#include "download/chunk_handoff_win32.h"
#include "download/worker_thread_win32.h"

namespace velm {

class TFileWriteThread : public TWorkerThread {
public:
    ~TFileWriteThread() override;

    // Resets the handoff, the blocks and the abort for a new start.
    void SetJob(TDownloadJobBase* job) override;

    // Offers one chunk (at most ChunkHandoff::kChunkSize bytes; length 0 marks the end of
    // the data) and returns once this thread has it, or has ended (kClosed: it was
    // aborted, or writing failed for good).
    ChunkHandoff::Offered Handoff(const uint8_t* data, size_t length);
    // Ends this thread at once, without completing the job; its files stay for a resume.
    void SignalAbort() { handoff_.Abort(); }
    // Called by the download thread's Finish: whether the transfer is complete.
    void SetEnd(bool complete) { handoff_.End(complete); }

    // Verifies the resume record against the partial transfer file and opens both files so
    // that the transfer continues at the returned offset. last_modified is the server's time
    // as a file time (high 32 bits all ones when unknown). 1 or 0.
    int PrepareLocalFile(uint64_t last_modified, int64_t& resume_offset);
    // Opens the files for a transfer that continues after valid_entries record entries, at
    // resume_offset (0 entries: fresh record and fresh file). When the record cannot be
    // reopened the transfer starts afresh and resume_offset becomes 0, so that the caller
    // asks for the whole file again. 1 or 0.
    int Open(int64_t valid_entries, int64_t& resume_offset);

    bool WriteFailed() const { return write_failed_.load(); }

protected:
    Step Run() override;

private:
    // Opening (file_write_thread_win32.cpp): the record and the data file, each either
    // picked up where the transfer continues or created afresh.
    int ReopenRecord(int64_t valid_entries);
    int CreateRecord();
    int OpenDataFile(const std::wstring& transfer, bool keep_existing);
    void CutDataFileAt(int64_t offset);
    void ResetBlocks();

    void TakeChunk(const uint8_t* chunk, size_t length);
    void WriteRecordEntry(const uint8_t* block, size_t length);
    // Writes the data block and its record entry; every few blocks also flushes both
    // files to disk. 1 or 0.
    int FlushData();
    int SyncToDisk();
    void CloseFiles();

    // The end of the transfer, in order (file_write_completion_win32.cpp). SettleTransfer,
    // PlaceTransfer and DecodeTransfer return 1 or 0.
    void Complete(bool complete);
    int SettleTransfer();
    int PlaceTransfer();
    int PlacePlainTransfer();
    int DecodeTransfer();
    // The most bytes the decoder may produce; declared gets the container's own claim
    // (kCmpNoDeclaredSize when it makes none or is not consulted).
    uint64_t DecodeBound(uint64_t& declared) const;
    bool Aborted() const;
    void DiscardTransfer();
    void ReportCompletion(int ok, int placed);
    std::wstring TransferPath() const;
    std::wstring FinalPath() const;

    ChunkHandoff handoff_;
    std::atomic<bool> write_failed_{false};
    std::vector<uint8_t> data_block_;
    size_t data_fill_ = 0;
    int unsynced_blocks_ = 0;
    UniqueHandle record_file_;
    UniqueHandle data_file_;
    std::wstring record_path_;
};

}  // namespace velm
