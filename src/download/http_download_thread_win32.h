#pragma once
// TWinInetDownloadThread: fetches the file of one download job over HTTP with WinINet in
// asynchronous mode and hands the bytes to the job's file write thread. Each attempt
// probes the URL (status, last-modified time, length), asks the resume record how much
// of an earlier partial file still verifies, and transfers the rest, with a ranged
// request when it resumes. At most four attempts; the write thread completes the job,
// and when it never gets there (an abort, a thread that could not start) this thread
// ends the job as failed once the write thread has ended.
//
// Threads: Run is this thread. OnInetStatus runs on WinINet's threads and only logs. The
// owning job stops this thread through Stop; every wait here also ends on the stop event.
// All jobs' requests share one WinINet session, so that their connections are reused.
#include <windows.h>

#include <cstdint>
#include <string>

#include "common/inet_request_win32.h"
#include "download/chunk_handoff_win32.h"
#include "download/download_job_win32.h"
#include "download/download_timeouts.h"
#include "download/file_write_thread_win32.h"
#include "download/worker_thread_win32.h"

namespace velm {

// The one session of all download jobs, opened on first use and never closed.
InetSession& DownloadSession();

class TWinInetDownloadThread : public TWorkerThread, private InetStatusObserver {
public:
    static constexpr int kAttemptLimit = 5;  // compared after the increment: four attempts
    // Under Wine every WinINet read is a server round trip, so the read size sets the
    // ceiling of a transfer: 64 KiB reads allow several times what 5 KiB reads did.
    static constexpr size_t kReadSize = 64 * 1024;
    static_assert(kReadSize <= ChunkHandoff::kChunkSize, "a read is handed off whole");

    TWinInetDownloadThread(TFileWriteThread& writer, const DownloadTimeouts& timeouts);
    ~TWinInetDownloadThread() override;

    // The number that starts this thread's log lines.
    int Serial() const { return serial_; }

protected:
    // How a step of a transfer ends: kNext carries on with the following step; the others
    // end the attempt (kRetry) or the run.
    enum class Outcome { kNext, kRetry, kSucceeded, kFailed, kWriteFailed };

    Step Run() override;
    void OnTerminate() override;
    // True when the owner asked this thread to stop; the run then ends as failed.
    bool CheckAborted();
    // Offers one chunk to the write thread: kNext when it was taken.
    Outcome Deliver(const uint8_t* data, size_t length);
    // Ends the write thread of a job that has nothing to write, without completing the job.
    void StopWriter();
    // Ends the run after its last step: the write thread learns the outcome, and the job
    // has ended once this returns.
    void EndRun(Outcome last);
    int PrepareLocalFile(uint64_t last_modified, int64_t& resume_offset);

private:
    // How a request of this thread ended.
    enum class Opened { kOpened, kFailed, kTimedOut, kAborted };

    // WinINet's notices about this thread's request, for the log.
    void OnInetStatus(DWORD status, const void* information, DWORD length) override;

    // The thread's plumbing (http_download_thread_win32.cpp).
    void DropCurrentJob();
    void CloseRequest();
    void Finish(bool complete);
    bool RestartWriter();
    void Report(TDownloadJobBase::DownloadRecord& record, int64_t delta);
    void SetHttpError(int code, const std::wstring& url);
    // True when the job was aborted during the pause.
    bool PauseAfterFailure();
    void RunAttempts(TDownloadJobBase::DownloadRecord& record);

    // The steps of one attempt, in order (http_download_attempt_win32.cpp).
    Outcome RunAttempt(TDownloadJobBase::DownloadRecord& record, int& attempt);
    Outcome StartAttempt(TDownloadJobBase::DownloadRecord& record, int& attempt);
    Opened OpenUrl(const std::wstring& url, const std::wstring& header, const wchar_t* pending_line,
                   const wchar_t* timeout_line);
    Outcome Probe(TDownloadJobBase::DownloadRecord& record, uint64_t& last_modified);
    Outcome ReadProbeAnswer(TDownloadJobBase::DownloadRecord& record, uint64_t& last_modified);
    Outcome PrepareTransferFile(uint64_t last_modified, int64_t& total);
    Outcome OpenBody(TDownloadJobBase::DownloadRecord& record);
    // kNext: the transfer request is open at the right place; kRetry: this attempt failed;
    // kFailed: the job was aborted.
    Outcome OpenTransfer(TDownloadJobBase::DownloadRecord& record, int64_t offset);
    Outcome AcceptTransferAnswer(TDownloadJobBase::DownloadRecord& record, int64_t offset);
    Outcome ReadBody(TDownloadJobBase::DownloadRecord& record, int64_t total);
    Outcome ReadChunk(size_t want, size_t& length);
    // Draws length bytes from the manager's rate limiter and waits as long as it says.
    // False when a stop came during the wait.
    bool PaceAfterRead(size_t length);
    Outcome EndBody();

    TFileWriteThread& writer_;
    const DownloadTimeouts timeouts_;
    const int serial_;
    InetRequest request_;
    bool retry_ = false;
    // Bytes of the file that this attempt has on disk or in flight: the resume point and
    // what the end of data is compared with the total.
    int64_t bytes_ = 0;
    // Bytes reported as progress since the last take-back; a new attempt takes back exactly
    // these, whatever point the previous attempt failed at.
    int64_t counted_ = 0;
};

}  // namespace velm
