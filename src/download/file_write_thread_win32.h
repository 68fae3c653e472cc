#pragma once
// TFileWriteThread: writes the chunks a download thread receives to the job's transfer
// file in blocks of 113553 bytes, each flushed to disk, and keeps the ".ha" resume record
// beside it. At the end of the input it checks the size, decodes a ".cmp" transfer and
// completes the job (result, log line, the callback's completion, state Done).
//
// Threads: Handoff, SignalAbort, SetEnd, Open and PrepareLocalFile are called by the job's
// download thread; Run is this thread. Open and PrepareLocalFile run while this thread is
// started but waiting for its first chunk, so the files are open before any data arrives.
// The owner restarts the thread for every attempt: SignalAbort, Join, SetJob, Start.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "common/handle_win32.h"
#include "common/md5.h"
#include "common/sync_win32.h"
#include "common/thread_win32.h"

namespace velm {

class TFileWriteThread : public TWorkerThread {
public:
    // The largest chunk the download thread offers at once: its read size. An in-memory
    // size only; the blocks on disk and in the resume record keep their own size.
    static constexpr size_t kChunkSize = 64 * 1024;

    ~TFileWriteThread() override;

    // Resets the handoff, the blocks and the abort event for a new start.
    void SetJob(TDownloadJobBase* job) override;

    // Offers one chunk (at most kChunkSize bytes; length 0 marks the end of the data).
    // 1 when taken, 0 when the slot is still full after 10 ms (offer again), -1 when
    // writing has failed for good and no chunk will ever be taken.
    int Handoff(const uint8_t* data, size_t length);
    void SignalAbort();
    // Called by the download thread's Finish: 1 = transfer complete, 0 = failed.
    void SetEnd(int status);

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
    int Run(uintptr_t argument) override;
    bool IsFinished(int) override { return true; }

private:
    // Opening (file_write_thread_win32.cpp): the record and the data file, each either
    // picked up where the transfer continues or created afresh.
    int ReopenRecord(int64_t valid_entries);
    int CreateRecord();
    int OpenDataFile(const std::wstring& transfer, bool keep_existing);
    void CutDataFileAt(int64_t offset);
    void ResetBlocks();

    void TakeChunk();
    void WriteRecordEntry(const uint8_t* block, size_t length);
    // Writes the data block and its record entry; every few blocks also flushes both
    // files to disk. 1 or 0.
    int FlushData();
    int SyncToDisk();
    void CloseFiles();

    // The end of the transfer, in order (file_write_completion_win32.cpp). SettleTransfer,
    // PlaceTransfer and DecodeTransfer return 1 or 0.
    void Complete();
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

    std::atomic<int> input_ended_{0};
    std::atomic<int> end_status_{0};
    std::atomic<bool> write_failed_{false};
    std::atomic<bool> abort_requested_{false};
    Semaphore empty_;
    Semaphore full_;
    std::vector<uint8_t> handoff_;
    size_t handoff_length_ = 0;
    std::vector<uint8_t> data_block_;
    size_t data_fill_ = 0;
    int unsynced_blocks_ = 0;
    UniqueHandle record_file_;
    UniqueHandle data_file_;
    std::wstring record_path_;
};

}  // namespace velm
