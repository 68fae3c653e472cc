#include "download/http_download_thread_win32.h"

#include <cwchar>
#include <cwctype>

#include "common/log.h"
#include "common/system_error_win32.h"
#include "common/text.h"
#include "common/url.h"
#include "download/file_write_thread_win32.h"
#include "download/inet_context_table_win32.h"

namespace velm {
namespace {

constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
constexpr DWORD kWriterEndWaitMs = 5000;
constexpr uint64_t kUnknownFileTime = ~uint64_t(0);
// Far beyond any game file; keeps a hostile length from passing for a size.
constexpr int64_t kMaxContentLength = int64_t(1) << 50;

std::atomic<int> g_next_serial{1};

std::wstring QueryText(HINTERNET request, DWORD info) {
    wchar_t text[256];
    DWORD size = sizeof(text);
    if (!request || !HttpQueryInfoW(request, info, text, &size, nullptr)) return L"";
    return std::wstring(text, size / sizeof(wchar_t));
}

// Decimal digits only; a sign, blanks inside or an absurd size is no length at all.
bool ParseLength(const std::wstring& text, size_t& at, int64_t& value) {
    size_t begin = at;
    value = 0;
    while (at < text.size() && text[at] >= L'0' && text[at] <= L'9') {
        if (value > kMaxContentLength / 10) return false;
        value = value * 10 + (text[at] - L'0');
        ++at;
    }
    return at > begin && value <= kMaxContentLength;
}

bool QueryContentLength(HINTERNET request, int64_t& length) {
    std::wstring text = QueryText(request, HTTP_QUERY_CONTENT_LENGTH);
    size_t at = 0;
    return ParseLength(text, at, length) && at == text.size();
}

// "bytes START-END/TOTAL": true when START is the offset that was asked for.
bool ContentRangeStartsAt(HINTERNET request, int64_t offset) {
    std::wstring text = QueryText(request, HTTP_QUERY_CONTENT_RANGE);
    const std::wstring unit = L"bytes ";
    if (text.compare(0, unit.size(), unit) != 0) return false;
    size_t at = unit.size();
    int64_t start = 0;
    return ParseLength(text, at, start) && at < text.size() && text[at] == L'-' && start == offset;
}

}  // namespace

TWinInetDownloadThread::TWinInetDownloadThread(TFileWriteThread& writer,
                                               const DownloadTimeouts& timeouts)
    : writer_(writer), timeouts_(timeouts), serial_(g_next_serial++) {
    complete_event_.Create(false, false);
    closing_event_.Create(false, false);
}

TWinInetDownloadThread::~TWinInetDownloadThread() {
    Stop(kDefaultStopTimeoutMs);
    InetContextTable::Unbind(this);
    CloseRequest();
    if (root_) {
        InternetSetStatusCallbackW(root_, nullptr);
        InternetCloseHandle(root_);
    }
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
        request_ = created;
        log.Write(L"%d|handlecreated m_hInetUrl = %d\n", serial_, int(reinterpret_cast<intptr_t>(created)));
    }
    if (status == INTERNET_STATUS_HANDLE_CLOSING) {
        request_ = nullptr;
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

void TWinInetDownloadThread::CloseRequest() {
    HINTERNET request = request_.exchange(nullptr);
    if (request) InternetCloseHandle(request);
}

void TWinInetDownloadThread::Finish(int status) {
    LauncherLog& log = LauncherLog::Instance();
    InetContextTable::Unbind(this);
    context_id_ = 0;
    if (root_) InternetSetStatusCallbackW(root_, nullptr);
    if (request_) log.Write(L"%d|CloseHandle m_hInetUrl\n", serial_);
    CloseRequest();
    log.Write(L"%d| Clear m_hInetUrl\n", serial_);
    if (root_) {
        log.Write(L"%d|CloseHandle m_hInet\n", serial_);
        InternetCloseHandle(root_);
    }
    log.Write(L"%d| Clear m_hInet\n", serial_);
    root_ = nullptr;
    writer_.SetEnd(status);
    writer_.Join(kWriterEndWaitMs);
}

void TWinInetDownloadThread::DropCurrentJob() {
    LauncherLog& log = LauncherLog::Instance();
    log.Write(L"%d|DropCurrentJob\n", serial_);
    context_id_ = 0;
    InetContextTable::Unbind(this);
    if (request_) log.Write(L"%d|CloseHandle m_hInetUrl\n", serial_);
    CloseRequest();
    log.Write(L"%d| Clear m_hInetUrl\n", serial_);
    complete_count_ = 0;
    complete_event_.Reset();
    closing_count_ = 0;
    closing_event_.Reset();
    async_error_ = 0;
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
    job_->SetResult(kResultFailed);
    job_->SetState(kJobDone);
    LauncherLog::Instance().Write(L"Job aborted.\n");
    return 1;
}

void TWinInetDownloadThread::EnsureBound() {
    if (context_id_ == 0) context_id_ = InetContextTable::Bind(this);
}

TWinInetDownloadThread::Wait TWinInetDownloadThread::WaitForRequest(const wchar_t* timeout_line) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (WaitStatus(INTERNET_STATUS_REQUEST_COMPLETE, timeouts_.poll_ms)) return kWaitDone;
        if (CheckAborted()) return kWaitAborted;
        if (GetTickCount() - start >= timeouts_.request_timeout_ms) {
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
    HINTERNET request = request_;
    if (!request || !HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                                    &code, &size, nullptr))
        return -1;
    return int(code);
}

void TWinInetDownloadThread::SetHttpError(DWORD code, const std::wstring& url) {
    LauncherLog::Instance().Write(L"%d|Download failed with http error: %d.\n", serial_, int(code));
    job_->SetErrorText(FormatText(L"HTTP error：%d\n", int(code)) + L". " + url);
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
    root_ = InternetOpenW(L"HarrowAgent", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                          INTERNET_FLAG_ASYNC);
    if (!root_) {
        DWORD error = GetLastError();
        LauncherLog::Instance().Write(L"%d|InternetOpen failed with error %d\n", serial_, int(error));
        job_->SetErrorText(L"InternetOpen failed, Error:" + SystemErrorText(error));
        Finish(0);
        return -1;
    }
    InternetSetStatusCallbackW(root_, reinterpret_cast<INTERNET_STATUS_CALLBACK>(
                                          &InetContextTable::StatusCallback));
    return RunAttempts(record);
}

int TWinInetDownloadThread::RunAttempts(TDownloadJobBase::DownloadRecord* record) {
    LauncherLog& log = LauncherLog::Instance();
    const std::wstring& url = record->url;
    int attempt = 0;
    bytes_ = 0;
    counted_ = 0;
    for (;;) {
        const int64_t take_back = counted_;
        Report(record, -take_back);
        job_->AddDownloaded(-take_back);
        log.Write(L"%d|currentretry %d\n", serial_, attempt);
        if (!RestartWriter(record)) {
            job_->SetErrorText(L"Create thread failed, Error:" + SystemErrorText(GetLastError()));
            Finish(0);
            return -1;
        }
        DropCurrentJob();
        retry_ = false;
        if (++attempt >= kAttemptLimit) {
            Finish(0);
            return -1;
        }
        EnsureBound();
        log.Write(L"%d|OpenUrl1 to : %ls\n", serial_, url.c_str());
        request_ = nullptr;
        const std::wstring request_url = EscapeUrlForRequest(url);
        HINTERNET opened = InternetOpenUrlW(root_, request_url.c_str(), nullptr, 0, kRequestFlags, context_id_);
        if (opened) {
            request_ = opened;
        } else if (GetLastError() == ERROR_IO_PENDING) {
            log.Write(L"%d|InternetOpenUrl pending 1\n", serial_);
            Wait waited = WaitForRequest(L"%d|timeout 5\n");
            if (waited == kWaitAborted) {
                Finish(0);
                return -1;
            }
            if (waited == kWaitTimedOut) job_->SetErrorText(L"InternetOpenUrl 1 timeout");
            if (retry_ || !request_) {
                DWORD error = async_error_ ? DWORD(async_error_) : GetLastError();
                log.Write(L"%d|InternetOpenUrl failed with error %d, please check your internet "
                          L"connection. bRetry = %d, m_hInetUrl = %d\n",
                          serial_, int(error), int(retry_), int(request_ != nullptr));
                job_->SetErrorText(L"InternetOpenUrl failed, Error:" + SystemErrorText(error));
                continue;
            }
        }
        const int status = HttpStatus();
        if (status < 0) {
            DWORD error = async_error_ ? DWORD(async_error_) : GetLastError();
            log.Write(L"%d|HttpQueryInfo error with %d.\n", serial_, int(error));
            job_->SetErrorText(L"HttpQueryInfo failed, Error:" + SystemErrorText(error));
            continue;
        }
        if (status != HTTP_STATUS_OK) {
            SetHttpError(DWORD(status), url);
            continue;
        }
        SYSTEMTIME modified{};
        DWORD size = sizeof(modified);
        if (!HttpQueryInfoW(request_, HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME,
                            &modified, &size, nullptr))
            modified.wYear = 0xFFFF;
        if (job_->GetTotal() <= 0) {
            int64_t length = 0;
            if (!QueryContentLength(request_, length)) {
                log.Write(L"%d|HttpQueryInfo error with %d, can't get file length, can't resume.\n",
                          serial_, int(GetLastError()));
            } else {
                if (record->callback) record->callback->OnTotalKnown(job_, length);
                job_->SetTotal(length);
            }
        }
        uint64_t last_modified = kUnknownFileTime;
        FILETIME file_time;
        if (modified.wYear != 0xFFFF && SystemTimeToFileTime(&modified, &file_time))
            last_modified = uint64_t(file_time.dwHighDateTime) << 32 | file_time.dwLowDateTime;
        if (!PrepareLocalFile(last_modified, bytes_)) {
            Finish(0);
            return -1;
        }
        const int64_t total = job_->GetTotal();
        if (bytes_ == total && total != 0) {
            log.Write(L"%d|File already completed, skip.\n", serial_);
            Finish(1);
            return 0;
        }
        // A record that vouches for more than the server now has cannot be resumed.
        if (total != 0 && bytes_ > total) {
            bytes_ = 0;
            if (!writer_.Open(0, bytes_)) {
                Finish(0);
                return -1;
            }
        }
        int transfer = 1;
        if (bytes_ == 0) {
            // A fresh start reads the probe's own answer: a second request for the same bytes
            // would cost a round trip, and closing an unread answer makes Wine's WinINet drain
            // the body for as long as the server keeps up, which on a fast line is all of it.
            log.Write(L"%d|setup download from: %lld \n", serial_, 0LL);
        } else {
            DropCurrentJob();
            transfer = OpenTransfer(record, bytes_);
        }
        if (transfer < 0) {
            Finish(0);
            return -1;
        }
        if (transfer == 0) continue;
        if (!request_) {
            DWORD error = GetLastError();
            log.Write(L"%d|InternetOpenUrl failed with error %d, please check your internet connection.\n",
                      serial_, int(error));
            job_->SetErrorText(L"InternetOpenUrl failed，error：" + SystemErrorText(error));
            continue;
        }

        log.Write(L"%d|Start downloading：%ls\n", serial_, record->transfer_file.c_str());
        bool ended = false;
        while (!retry_) {
            if (CheckAborted()) {
                Finish(0);
                return -1;
            }
            INTERNET_BUFFERSA buffer{};
            buffer.dwStructSize = sizeof(buffer);
            buffer.lpvBuffer = read_buffer_;
            buffer.dwBufferLength = DWORD(kReadSize);
            if (!InternetReadFileExA(request_, &buffer, IRF_ASYNC, context_id_)) {
                DWORD error = GetLastError();
                if (error == ERROR_IO_PENDING) {
                    log.Write(L"%d|InternetReadFileEx pending\n", serial_);
                    const DWORD start = GetTickCount();
                    for (;;) {
                        if (WaitStatus(INTERNET_STATUS_REQUEST_COMPLETE, timeouts_.poll_ms)) break;
                        if (CheckAborted()) {
                            Finish(0);
                            return -1;
                        }
                        if (GetTickCount() - start > timeouts_.read_stall_ms) {
                            log.Write(L"%d| No Data Recevied, Retry!!!!\n", serial_);
                            retry_ = true;
                            break;
                        }
                    }
                    if (!retry_ && async_error_) {
                        error = async_error_;
                        log.Write(L"%d|InternetReadFileExA failed with error %d.\n", serial_, int(error));
                        job_->SetErrorText(L"InternetReadFile failed，Error:" + SystemErrorText(error));
                        retry_ = true;
                    }
                } else {
                    log.Write(L"%d|InternetReadFileExA failed with error %d.\n", serial_, int(error));
                    job_->SetErrorText(L"InternetReadFile failed，Error:" + SystemErrorText(error));
                    retry_ = true;
                }
            }
            if (retry_) break;
            const size_t n = buffer.dwBufferLength;
            if (n > kReadSize) {
                retry_ = true;
                break;
            }
            // An endless or oversized body is cut at the known total; the attempt fails.
            if (total > 0 && bytes_ + int64_t(n) > total) {
                log.Write(L"%d|Received more than the total %lld, retry.\n", serial_, (long long)total);
                job_->SetErrorText(L"Size of downloaded file dose not match.");
                retry_ = true;
                break;
            }
            Report(record, int64_t(n));
            if (n == 0) {
                ended = true;
                break;
            }
            job_->AddDownloaded(int64_t(n));
            const int delivered = DeliverUntilTaken(read_buffer_, n);
            if (delivered == -1) {
                Finish(0);
                return -1;
            }
            if (delivered == -2) {
                // The write thread has stopped on a disk error and will not complete the job.
                log.Write(L"%d|File write failed, stop.\n", serial_);
                Finish(0);
                job_->SetResult(kResultFailed);
                if (record->callback) record->callback->OnJobComplete(job_, 0);
                job_->SetState(kJobDone);
                return -1;
            }
            bytes_ += int64_t(n);
        }
        if (!ended) continue;
        const int64_t expected = job_->GetTotal();
        if (bytes_ != expected) {
            log.Write(L"%d| READ 0 BYTES !!!!  downloaded %lld, total %lld\n", serial_,
                      (long long)bytes_, (long long)expected);
            // Should the retries run out here, the run's error list needs this job's line.
            job_->SetErrorText(L"Size of downloaded file dose not match.");
            continue;
        }
        const int delivered = DeliverUntilTaken(read_buffer_, 0);
        if (delivered != 1) {
            Finish(0);
            return -1;
        }
        Finish(1);
        return 0;
    }
}

// 1: the transfer request is open at the right place; 0: this attempt failed; -1: aborted.
int TWinInetDownloadThread::OpenTransfer(TDownloadJobBase::DownloadRecord* record, int64_t offset) {
    LauncherLog& log = LauncherLog::Instance();
    log.Write(L"%d|setup download from: %lld \n", serial_, (long long)offset);
    if (!record) return 0;
    const bool resume = offset > 0;
    const std::wstring header = resume ? FormatText(L"Range: bytes=%lld-", (long long)offset) : L"";
    const wchar_t* number = resume ? L"3" : L"4";
    EnsureBound();
    log.Write(L"%d|InternetOpenUrl %ls\n", serial_, number);
    request_ = nullptr;
    const std::wstring request_url = EscapeUrlForRequest(record->url);
    HINTERNET opened = InternetOpenUrlW(root_, request_url.c_str(), resume ? header.c_str() : nullptr,
                                        resume ? DWORD(-1) : 0, kRequestFlags, context_id_);
    if (opened) {
        request_ = opened;
    } else if (GetLastError() == ERROR_IO_PENDING) {
        log.Write(L"%d|InternetOpenUrl pending %ls\n", serial_, number);
        Wait waited = WaitForRequest(resume ? L"%d|timeout 3\n" : L"%d|timeout 4\n");
        if (waited == kWaitAborted) return -1;
        if (waited == kWaitTimedOut) DropCurrentJob();
    }
    log.Write(L"%d|InternetOpenUrl %ls completed bRetry = %d, m_hInetUrl = %d\n", serial_, number,
              int(retry_), int(request_ != nullptr));
    if (retry_ || !request_) {
        log.Write(L"%d|retry %ls\n", serial_, number);
        DropCurrentJob();
        retry_ = false;
        return PauseAfterFailure();
    }
    // The answer decides where the body belongs: a resumed transfer only accepts 206 with
    // the range it asked for; a server that ignores Range sends the whole file with 200,
    // which then starts this attempt over from byte 0.
    const int status = HttpStatus();
    if (resume && status == HTTP_STATUS_PARTIAL_CONTENT && ContentRangeStartsAt(request_, offset)) {
        log.Write(L"%d|Resume from %lld.\n", serial_, (long long)offset);
        Report(record, offset);
        job_->AddDownloaded(offset);
        return 1;
    }
    if (status == HTTP_STATUS_OK) {
        if (resume) {
            log.Write(L"%d|Range ignored by the server, download from the start.\n", serial_);
            bytes_ = 0;
            int64_t fresh = 0;
            if (!writer_.Open(0, fresh)) return 0;
        }
        return 1;
    }
    if (status < 0) {
        log.Write(L"%d|HttpQueryInfo error with %d.\n", serial_, int(GetLastError()));
        job_->SetErrorText(L"HttpQueryInfo failed, Error:" + SystemErrorText(GetLastError()));
    } else {
        SetHttpError(DWORD(status), record->url);
    }
    DropCurrentJob();
    return PauseAfterFailure();
}

int TWinInetDownloadThread::PauseAfterFailure() {
    if (!WaitForStop(timeouts_.retry_pause_ms)) return 0;
    CheckAborted();
    return -1;
}

}  // namespace velm
