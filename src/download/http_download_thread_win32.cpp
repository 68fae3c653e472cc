// The download thread's life and its WinINet plumbing: the root and request handles, the
// status notices that arrive on WinINet's threads, the waits for them, and how a run ends.
// The steps of one attempt are in http_download_attempt_win32.cpp.
#include "download/http_download_thread_win32.h"

#include "common/log.h"
#include "common/system_error_win32.h"
#include "common/text.h"
#include "download/file_write_thread_win32.h"
#include "download/inet_context_table_win32.h"

namespace velm {
namespace {

constexpr DWORD kWriterEndWaitMs = 5000;

std::atomic<int> g_next_serial{1};

}  // namespace

TWinInetDownloadThread::TWinInetDownloadThread(TFileWriteThread& writer,
                                               const DownloadTimeouts& timeouts)
    : writer_(writer), timeouts_(timeouts), serial_(g_next_serial++) {
    complete_event_.Create(false, false);
    closing_event_.Create(false, false);
}

// The handles close after the unbinding, request_ before root_ (their order as members).
TWinInetDownloadThread::~TWinInetDownloadThread() {
    Stop(kDefaultStopTimeoutMs);
    InetContextTable::Unbind(this);
}

void TWinInetDownloadThread::OnTerminate() {
    LauncherLog::Instance().Write(L"[Debug] Thread %d timeout.\n", int(GetThreadId()));
}

void TWinInetDownloadThread::OnInternetStatus(DWORD status, void* information, DWORD length) {
    LauncherLog& log = LauncherLog::Instance();
    auto* result = static_cast<INTERNET_ASYNC_RESULT*>(information);
    if (status == INTERNET_STATUS_HANDLE_CREATED && information) {
        // Windows passes an INTERNET_ASYNC_RESULT here, Wine the bare handle.
        HINTERNET created = nullptr;
        if (length >= sizeof(INTERNET_ASYNC_RESULT))
            created = reinterpret_cast<HINTERNET>(result->dwResult);
        else if (length == sizeof(HINTERNET))
            created = *static_cast<HINTERNET*>(information);
        request_.Reset(created);
        log.Write(L"%d|handlecreated m_hInetUrl = %d\n", serial_, int(reinterpret_cast<intptr_t>(created)));
    }
    if (status == INTERNET_STATUS_HANDLE_CLOSING) {
        // The handle is on its way out already: forget it, do not close it again.
        request_.Release();
        log.Write(L"%d|closed m_hInetUrl = %d\n", serial_, 0);
    }
    if (status == INTERNET_STATUS_REQUEST_COMPLETE || status == INTERNET_STATUS_HANDLE_CLOSING) {
        if (status == INTERNET_STATUS_REQUEST_COMPLETE && result && length >= sizeof(*result))
            async_error_ = result->dwResult ? 0 : result->dwError;
        log.Write(L"%d|TriggerInternetStatusEvent status = %d\n", serial_, int(status));
        if (status == INTERNET_STATUS_REQUEST_COMPLETE) {
            ++complete_count_;
            complete_event_.Set();
        } else {
            ++closing_count_;
            closing_event_.Set();
        }
    }
}

int TWinInetDownloadThread::PrepareLocalFile(uint64_t last_modified, int64_t& resume_offset) {
    return writer_.PrepareLocalFile(last_modified, resume_offset);
}

int TWinInetDownloadThread::Deliver(const uint8_t* data, size_t length) {
    return writer_.Handoff(data, length);
}

// Unbound before any handle closes: a completion still on its way for the old request
// then finds no thread and only logs, instead of counting for the next request.
void TWinInetDownloadThread::UnbindContext() {
    context_id_ = 0;
    InetContextTable::Unbind(this);
}

void TWinInetDownloadThread::CloseRequest() {
    LauncherLog& log = LauncherLog::Instance();
    if (request_) log.Write(L"%d|CloseHandle m_hInetUrl\n", serial_);
    request_.Close();
    log.Write(L"%d| Clear m_hInetUrl\n", serial_);
}

void TWinInetDownloadThread::Finish(int status) {
    LauncherLog& log = LauncherLog::Instance();
    UnbindContext();
    if (root_) InternetSetStatusCallbackW(root_.Get(), nullptr);
    CloseRequest();
    if (root_) {
        log.Write(L"%d|CloseHandle m_hInet\n", serial_);
        root_.Close();
    }
    log.Write(L"%d| Clear m_hInet\n", serial_);
    writer_.SetEnd(status);
    writer_.Join(kWriterEndWaitMs);
}

void TWinInetDownloadThread::StopWriter() {
    writer_.SignalAbort();
    writer_.Join(kWriterEndWaitMs);
}

void TWinInetDownloadThread::DropCurrentJob() {
    LauncherLog::Instance().Write(L"%d|DropCurrentJob\n", serial_);
    UnbindContext();
    CloseRequest();
    complete_count_ = 0;
    complete_event_.Reset();
    closing_count_ = 0;
    closing_event_.Reset();
    async_error_ = 0;
}

void TWinInetDownloadThread::EnsureBound() {
    if (context_id_ == 0) context_id_ = InetContextTable::Bind(this);
}

int TWinInetDownloadThread::WaitStatus(DWORD status, DWORD timeout_ms) {
    Event& event = status == INTERNET_STATUS_REQUEST_COMPLETE ? complete_event_ : closing_event_;
    std::atomic<int>& count =
        status == INTERNET_STATUS_REQUEST_COMPLETE ? complete_count_ : closing_count_;
    if (event.Wait(timeout_ms) != Event::kSignalled) return 0;
    --count;
    return 1;
}

int TWinInetDownloadThread::CheckAborted() {
    if (!StopRequested()) return 0;
    LauncherLog::Instance().Write(L"Job aborted.\n");
    return 1;
}

// Polls in slices so that an abort is seen within one; a time-out marks the attempt for
// a retry and logs timeout_line (which takes the serial).
TWinInetDownloadThread::Wait TWinInetDownloadThread::WaitForRequest(DWORD timeout_ms,
                                                                    const wchar_t* timeout_line) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (WaitStatus(INTERNET_STATUS_REQUEST_COMPLETE, timeouts_.poll_ms)) return kWaitDone;
        if (CheckAborted()) return kWaitAborted;
        if (GetTickCount() - start >= timeout_ms) {
            LauncherLog::Instance().Write(timeout_line, serial_);
            retry_ = true;
            return kWaitTimedOut;
        }
    }
}

void TWinInetDownloadThread::Report(TDownloadJobBase::DownloadRecord* record, int64_t delta) {
    if (record->callback) record->callback->OnProgress(job_, delta);
    counted_ += delta;
}

int TWinInetDownloadThread::HttpStatus() {
    DWORD code = 0;
    DWORD size = sizeof(code);
    HINTERNET request = request_.Get();
    if (!request || !HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                                    &code, &size, nullptr))
        return -1;
    return int(code);
}

void TWinInetDownloadThread::SetHttpError(DWORD code, const std::wstring& url) {
    LauncherLog::Instance().Write(L"%d|Download failed with http error: %d.\n", serial_, int(code));
    job_->SetErrorText(FormatText(L"HTTP error：%d\n", int(code)) + L". " + url);
}

int TWinInetDownloadThread::PauseAfterFailure() {
    if (!WaitForStop(timeouts_.retry_pause_ms)) return 0;
    CheckAborted();
    return -1;
}

int TWinInetDownloadThread::RestartWriter(TDownloadJobBase::DownloadRecord* record) {
    writer_.SignalAbort();
    writer_.Join(INFINITE);
    writer_.SetJob(job_);
    return writer_.Start(reinterpret_cast<uintptr_t>(record)) ? 1 : 0;
}

// 1 taken, -1 aborted, -2 the write thread has given up.
int TWinInetDownloadThread::DeliverUntilTaken(const uint8_t* data, size_t length) {
    for (;;) {
        int taken = Deliver(data, length);
        if (taken > 0) return 1;
        if (taken < 0) return -2;
        if (CheckAborted()) return -1;
        Sleep(0);
    }
}

int TWinInetDownloadThread::Run(uintptr_t argument) {
    auto* record = reinterpret_cast<TDownloadJobBase::DownloadRecord*>(argument);
    if (!record) {
        Finish(0);
        return -1;
    }
    job_ = record->job;
    root_.Reset(InternetOpenW(L"HarrowAgent", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                              INTERNET_FLAG_ASYNC));
    if (!root_) {
        DWORD error = GetLastError();
        LauncherLog::Instance().Write(L"%d|InternetOpen failed with error %d\n", serial_, int(error));
        job_->SetErrorText(L"InternetOpen failed, Error:" + SystemErrorText(error));
        Finish(0);
        return -1;
    }
    InternetSetStatusCallbackW(root_.Get(), reinterpret_cast<INTERNET_STATUS_CALLBACK>(
                                                &InetContextTable::StatusCallback));
    return RunAttempts(record);
}

int TWinInetDownloadThread::RunAttempts(TDownloadJobBase::DownloadRecord* record) {
    int attempt = 0;
    bytes_ = 0;
    counted_ = 0;
    Step step = kRetry;
    while (step == kRetry) step = RunAttempt(record, attempt);
    return EndRun(record, step);
}

int TWinInetDownloadThread::EndRun(TDownloadJobBase::DownloadRecord*, Step last) {
    if (last == kSucceeded) {
        Finish(1);
        return 0;
    }
    if (last == kWriteFailed) {
        // The write thread has ended the job with the write's error text.
        LauncherLog::Instance().Write(L"%d|File write failed, stop.\n", serial_);
        Finish(0);
        job_->ReportEnd(kResultFailed);
        return -1;
    }
    Finish(0);
    return -1;
}

}  // namespace velm
