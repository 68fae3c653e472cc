#pragma once
// TWinInetDownloadThread: fetches the file of one download job over HTTP with WinINet in
// asynchronous mode and hands the bytes to the job's file write thread. Each attempt
// probes the URL (status, last-modified time, length), asks the resume record how much
// of an earlier partial file still verifies, and transfers the rest, with a ranged
// request when it resumes. At most four attempts; the write thread completes the job.
//
// Threads: Run is this thread. OnInternetStatus runs on WinINet's threads, always under
// the context table's lock (see inet_context_table_win32.h). The owning job stops this
// thread through Stop; every wait here polls the stop event.
#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "download/download_job_win32.h"
#include "download/download_timeouts.h"
#include "download/file_write_thread_win32.h"
#include "common/internet_handle_win32.h"
#include "common/sync_win32.h"
#include "common/thread_win32.h"

namespace velm {

class TWinInetDownloadThread : public TWorkerThread {
public:
    static constexpr int kAttemptLimit = 5;  // compared after the increment: four attempts
    // Under Wine every WinINet read is a server round trip, so the read size sets the
    // ceiling of a transfer: 64 KiB reads allow several times what 5 KiB reads did.
    static constexpr size_t kReadSize = 64 * 1024;
    static_assert(kReadSize <= TFileWriteThread::kChunkSize, "a read is handed off whole");

    TWinInetDownloadThread(TFileWriteThread& writer, const DownloadTimeouts& timeouts);
    ~TWinInetDownloadThread() override;

    virtual int PrepareLocalFile(uint64_t last_modified, int64_t& resume_offset);
    virtual int Deliver(const uint8_t* data, size_t length);
    virtual void Finish(int status);

    // The number that starts this thread's log lines.
    int Serial() const { return serial_; }
    // WinINet status for a request of this thread; runs on a WinINet thread.
    void OnInternetStatus(DWORD status, void* information, DWORD length);

protected:
    // How a step of a transfer ends: kNext carries on with the following step; the others
    // end the attempt (kRetry) or the run.
    enum Step { kNext, kRetry, kSucceeded, kFailed, kWriteFailed };

    int Run(uintptr_t argument) override;
    bool IsFinished(int) override { return true; }
    void OnTerminate() override;
    // 1 when the owner asked this thread to stop; the owner's Abort then ends the job.
    int CheckAborted();
    // 1 taken, -1 aborted, -2 the write thread has given up.
    int DeliverUntilTaken(const uint8_t* data, size_t length);
    // Ends the write thread of a job that has nothing to write, without completing the job.
    void StopWriter();
    // Ends the run after its last step: Finish with the outcome. 0 or -1 for Run.
    int EndRun(TDownloadJobBase::DownloadRecord* record, Step last);

private:
    enum Wait { kWaitDone = 1, kWaitTimedOut = 0, kWaitAborted = -1, kWaitNotNeeded = 2 };

    // The thread's WinINet plumbing (http_download_thread_win32.cpp).
    void DropCurrentJob();
    void UnbindContext();
    void CloseRequest();
    void EnsureBound();
    int WaitStatus(DWORD status, DWORD timeout_ms);
    Wait WaitForRequest(DWORD timeout_ms, const wchar_t* timeout_line);
    int RestartWriter(TDownloadJobBase::DownloadRecord* record);
    void Report(TDownloadJobBase::DownloadRecord* record, int64_t delta);
    int HttpStatus();
    void SetHttpError(DWORD code, const std::wstring& url);
    // 0 after the pause, -1 when the job was aborted during it.
    int PauseAfterFailure();
    int RunAttempts(TDownloadJobBase::DownloadRecord* record);

    // The steps of one attempt, in order (http_download_attempt_win32.cpp).
    Step RunAttempt(TDownloadJobBase::DownloadRecord* record, int& attempt);
    Step StartAttempt(TDownloadJobBase::DownloadRecord* record, int& attempt);
    Wait OpenUrl(const std::wstring& url, const std::wstring* header, const wchar_t* pending_line,
                 const wchar_t* timeout_line);
    Step Probe(TDownloadJobBase::DownloadRecord* record, uint64_t& last_modified);
    Step ReadProbeAnswer(TDownloadJobBase::DownloadRecord* record, uint64_t& last_modified);
    Step PrepareTransferFile(uint64_t last_modified, int64_t& total);
    Step OpenBody(TDownloadJobBase::DownloadRecord* record);
    // 1: the transfer request is open at the right place; 0: this attempt failed; -1: aborted.
    int OpenTransfer(TDownloadJobBase::DownloadRecord* record, int64_t offset);
    int AcceptTransferAnswer(TDownloadJobBase::DownloadRecord* record, int64_t offset);
    Step ReadBody(TDownloadJobBase::DownloadRecord* record, int64_t total);
    Step ReadChunk(size_t want, size_t& length);
    // Draws length bytes from the manager's rate limiter and waits as long as it says, in
    // slices short enough to notice a stop. 0 when a stop came during the wait.
    int PaceAfterRead(size_t length);
    // A read still pending when its wait ended (a stall, an abort) may be filled by
    // WinINet later: its slot is set aside, never reused, and a fresh one takes over.
    void AbandonPendingRead();
    Step EndBody();

    TFileWriteThread& writer_;
    const DownloadTimeouts timeouts_;
    const int serial_;
    Event complete_event_;
    std::atomic<int> complete_count_{0};
    Event closing_event_;
    std::atomic<int> closing_count_{0};
    std::atomic<DWORD> async_error_{0};
    uint32_t context_id_ = 0;
    // What an asynchronous read writes into: the request description and its buffer.
    // Both live on the heap with this object, and are declared before the handles, so
    // that they outlive every handle a late completion could come through.
    struct ReadSlot {
        INTERNET_BUFFERSA request{};
        uint8_t buffer[kReadSize];
    };
    std::unique_ptr<ReadSlot> read_ = std::make_unique<ReadSlot>();
    std::vector<std::unique_ptr<ReadSlot>> abandoned_reads_;
    // Declared before request_, so that the request closes before its root.
    InternetHandle root_;
    // Set on a WinINet thread when an asynchronous open creates it, forgotten there when
    // it closes.
    InternetHandle request_;
    bool retry_ = false;
    // Bytes of the file that this attempt has on disk or in flight: the resume point and
    // what the end of data is compared with the total.
    int64_t bytes_ = 0;
    // Bytes reported as progress since the last take-back; a new attempt takes back exactly
    // these, whatever point the previous attempt failed at.
    int64_t counted_ = 0;
};

}  // namespace velm
