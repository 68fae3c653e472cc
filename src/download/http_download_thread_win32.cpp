// The download thread's life and its plumbing: the shared session, the request and the
// notices WinINet sends about it, the write thread it feeds, and how a run ends. The steps
// of one attempt are in http_download_attempt_win32.cpp.
#include "download/http_download_thread_win32.h"

#include <atomic>

#include "common/log.h"
#include "common/system_error_win32.h"
#include "common/text.h"

namespace velm {
namespace {

std::atomic<int> g_next_serial{1};

}  // namespace

// Never closed: a request's last notices may come while the process ends.
InetSession& DownloadSession() {
    static InetSession* session = new InetSession();
    return *session;
}

TWinInetDownloadThread::TWinInetDownloadThread(TFileWriteThread& writer, const DownloadTimeouts& timeouts)
    : writer_(writer), timeouts_(timeouts), serial_(g_next_serial++) {}

// The request closes after the thread, and with it the last call of OnInetStatus.
TWinInetDownloadThread::~TWinInetDownloadThread() {
    Stop(kDefaultStopTimeoutMs);
    request_.Close();
}

void TWinInetDownloadThread::OnTerminate() {
    LauncherLog::Instance().Write(L"[Debug] Thread %d timeout.\n", int(GetThreadId()));
}

void TWinInetDownloadThread::OnInetStatus(DWORD status, const void* information, DWORD length) {
    LauncherLog& log = LauncherLog::Instance();
    if (status == INTERNET_STATUS_HANDLE_CREATED && information) {
        // Windows passes an INTERNET_ASYNC_RESULT here, Wine the bare handle.
        HINTERNET created = nullptr;
        if (length >= sizeof(INTERNET_ASYNC_RESULT))
            created = reinterpret_cast<HINTERNET>(static_cast<const INTERNET_ASYNC_RESULT*>(information)->dwResult);
        else if (length == sizeof(HINTERNET))
            created = *static_cast<const HINTERNET*>(information);
        log.Write(L"%d|handlecreated m_hInetUrl = %d\n", serial_, int(reinterpret_cast<intptr_t>(created)));
    }
    if (status == INTERNET_STATUS_HANDLE_CLOSING) log.Write(L"%d|closed m_hInetUrl = %d\n", serial_, 0);
    if (status == INTERNET_STATUS_REQUEST_COMPLETE || status == INTERNET_STATUS_HANDLE_CLOSING)
        log.Write(L"%d|TriggerInternetStatusEvent status = %d\n", serial_, int(status));
    // Receiving and received are reported for every few kilobytes; logging them drowns the rest.
    if (status != INTERNET_STATUS_RECEIVING_RESPONSE && status != INTERNET_STATUS_RESPONSE_RECEIVED)
        log.Write(L"%d|internet status : %d length : %d\n", serial_, int(status), int(length));
}

int TWinInetDownloadThread::PrepareLocalFile(uint64_t last_modified, int64_t& resume_offset) {
    return writer_.PrepareLocalFile(last_modified, resume_offset);
}

TWinInetDownloadThread::Outcome TWinInetDownloadThread::Deliver(const uint8_t* data, size_t length) {
    if (writer_.Handoff(data, length) == ChunkHandoff::Offered::kTaken) return Outcome::kNext;
    // The write thread has ended: it gave up on a write, or the job is being aborted.
    if (writer_.WriteFailed()) return Outcome::kWriteFailed;
    CheckAborted();
    return Outcome::kFailed;
}

void TWinInetDownloadThread::CloseRequest() {
    LauncherLog& log = LauncherLog::Instance();
    if (request_.IsOpen()) log.Write(L"%d|CloseHandle m_hInetUrl\n", serial_);
    request_.Close();
    log.Write(L"%d| Clear m_hInetUrl\n", serial_);
}

// Every transfer ends its job exactly once. The write thread does it when it reaches the
// end of its input; when it never gets there (the job was aborted, a thread could not be
// started) the job ends here as failed, after the write thread, so that its files are
// settled first.
void TWinInetDownloadThread::Finish(bool complete) {
    CloseRequest();
    writer_.SetEnd(complete);
    writer_.Join(INFINITE);
    job_->ReportEnd(kResultFailed);
}

void TWinInetDownloadThread::StopWriter() {
    writer_.SignalAbort();
    writer_.Join(INFINITE);
}

void TWinInetDownloadThread::DropCurrentJob() {
    LauncherLog::Instance().Write(L"%d|DropCurrentJob\n", serial_);
    CloseRequest();
}

bool TWinInetDownloadThread::CheckAborted() {
    if (!StopRequested()) return false;
    LauncherLog::Instance().Write(L"Job aborted.\n");
    return true;
}

void TWinInetDownloadThread::Report(TDownloadJobBase::DownloadRecord& record, int64_t delta) {
    if (record.callback) record.callback->OnProgress(job_, delta);
    counted_ += delta;
}

void TWinInetDownloadThread::SetHttpError(int code, const std::wstring& url) {
    LauncherLog::Instance().Write(L"%d|Download failed with http error: %d.\n", serial_, code);
    job_->SetErrorText(FormatText(L"HTTP error：%d\n", code) + L". " + url);
}

bool TWinInetDownloadThread::PauseAfterFailure() {
    if (!WaitForStop(timeouts_.retry_pause_ms)) return false;
    CheckAborted();
    return true;
}

bool TWinInetDownloadThread::RestartWriter() {
    writer_.SignalAbort();
    writer_.Join(INFINITE);
    writer_.SetJob(job_);
    return writer_.Start();
}

Thread::Step TWinInetDownloadThread::Run() {
    TDownloadJobBase::DownloadRecord& record = job_->Record();
    const InetSession& session = DownloadSession();
    if (!session.IsOpen()) {
        const DWORD error = session.OpenError();
        LauncherLog::Instance().Write(L"%d|InternetOpen failed with error %d\n", serial_, int(error));
        job_->SetErrorText(L"InternetOpen failed, Error:" + SystemErrorText(error));
        Finish(false);
        return Step::kDone;
    }
    RunAttempts(record);
    return Step::kDone;
}

void TWinInetDownloadThread::RunAttempts(TDownloadJobBase::DownloadRecord& record) {
    int attempt = 0;
    bytes_ = 0;
    counted_ = 0;
    Outcome outcome = Outcome::kRetry;
    while (outcome == Outcome::kRetry) outcome = RunAttempt(record, attempt);
    EndRun(outcome);
}

void TWinInetDownloadThread::EndRun(Outcome last) {
    // After a failed write the write thread has ended the job with the write's error text.
    if (last == Outcome::kWriteFailed) LauncherLog::Instance().Write(L"%d|File write failed, stop.\n", serial_);
    Finish(last == Outcome::kSucceeded);
}

}  // namespace velm
