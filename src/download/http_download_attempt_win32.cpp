// One attempt of the HTTP download thread, step by step: restart the writer, probe the
// URL, settle the resume point, open the body where it continues, read it into the write
// thread, and check its end. Each step ends with an Outcome; kNext goes on to the next one.
#include <algorithm>

#include "common/log.h"
#include "common/system_error_win32.h"
#include "common/text.h"
#include "common/url.h"
#include "download/download_manager_win32.h"
#include "download/file_write_thread_win32.h"
#include "download/http_download_thread_win32.h"

namespace velm {
namespace {

constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION;
constexpr uint64_t kUnknownFileTime = ~uint64_t(0);
// Far beyond any game file; keeps a hostile length from passing for a size.
constexpr int64_t kMaxContentLength = int64_t(1) << 50;

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

bool QueryContentLength(const InetRequest& request, int64_t& length) {
    std::wstring text = request.QueryText(HTTP_QUERY_CONTENT_LENGTH);
    size_t at = 0;
    return ParseLength(text, at, length) && at == text.size();
}

// "bytes START-END/TOTAL": true when START is the offset that was asked for.
bool ContentRangeStartsAt(const InetRequest& request, int64_t offset) {
    std::wstring text = request.QueryText(HTTP_QUERY_CONTENT_RANGE);
    const std::wstring unit = L"bytes ";
    if (text.compare(0, unit.size(), unit) != 0) return false;
    size_t at = unit.size();
    int64_t start = 0;
    return ParseLength(text, at, start) && at < text.size() && text[at] == L'-' && start == offset;
}

// kUnknownFileTime when the answer has no usable Last-Modified.
uint64_t LastModifiedOf(const InetRequest& request) {
    SYSTEMTIME modified{};
    FILETIME file_time;
    if (!request.QuerySystemTime(HTTP_QUERY_LAST_MODIFIED, modified) || modified.wYear == 0xFFFF ||
        !SystemTimeToFileTime(&modified, &file_time))
        return kUnknownFileTime;
    return uint64_t(file_time.dwHighDateTime) << 32 | file_time.dwLowDateTime;
}

}  // namespace

TWinInetDownloadThread::Outcome TWinInetDownloadThread::RunAttempt(TDownloadJobBase::DownloadRecord& record,
                                                                   int& attempt) {
    uint64_t last_modified = kUnknownFileTime;
    int64_t total = 0;
    Outcome outcome = StartAttempt(record, attempt);
    if (outcome == Outcome::kNext) outcome = Probe(record, last_modified);
    if (outcome == Outcome::kNext) outcome = PrepareTransferFile(last_modified, total);
    if (outcome == Outcome::kNext) outcome = OpenBody(record);
    if (outcome == Outcome::kNext) outcome = ReadBody(record, total);
    if (outcome == Outcome::kNext) outcome = EndBody();
    return outcome;
}

// Takes back the progress of the previous attempt and gives the writer a fresh start (the
// job's Execute started it for the first attempt).
TWinInetDownloadThread::Outcome TWinInetDownloadThread::StartAttempt(TDownloadJobBase::DownloadRecord& record,
                                                                     int& attempt) {
    const int64_t take_back = counted_;
    Report(record, -take_back);
    job_->AddDownloaded(-take_back);
    LauncherLog::Instance().Write(L"%d|currentretry %d\n", serial_, attempt);
    if (attempt > 0 && !RestartWriter()) {
        job_->SetErrorText(L"Create thread failed, Error:" + SystemErrorText(GetLastError()));
        return Outcome::kFailed;
    }
    DropCurrentJob();
    retry_ = false;
    if (++attempt >= kAttemptLimit) return Outcome::kFailed;
    return Outcome::kNext;
}

// Opens url into request_ and waits for the answer's headers (or the stop, or the
// request's time-out, which also marks the attempt for a retry and logs timeout_line).
TWinInetDownloadThread::Opened TWinInetDownloadThread::OpenUrl(const std::wstring& url, const std::wstring& header,
                                                               const wchar_t* pending_line,
                                                               const wchar_t* timeout_line) {
    UrlEndpoint endpoint;
    if (!SplitUrl(EscapeUrlForRequest(url), &endpoint)) {
        SetLastError(ERROR_INTERNET_INVALID_URL);
        return Opened::kFailed;
    }
    const std::wstring path = endpoint.path.empty() ? L"/" : endpoint.path;
    if (!request_.Open(DownloadSession(), endpoint, L"GET", path, kRequestFlags, kReadSize, this))
        return Opened::kFailed;
    InetWait wait;
    wait.cancel = StopEvent();
    wait.timeout_ms = timeouts_.request_timeout_ms;
    wait.on_pending = [this, pending_line] { LauncherLog::Instance().Write(pending_line, serial_); };
    switch (request_.Send(header, "", wait)) {
    case InetRequest::Outcome::kDone:
        return Opened::kOpened;
    case InetRequest::Outcome::kFailed:
        return Opened::kFailed;
    case InetRequest::Outcome::kCancelled:
        CheckAborted();
        return Opened::kAborted;
    case InetRequest::Outcome::kTimedOut:
        break;
    }
    LauncherLog::Instance().Write(timeout_line, serial_);
    retry_ = true;
    return Opened::kTimedOut;
}

// The first request of an attempt: its answer gives the status, the file's time and length.
TWinInetDownloadThread::Outcome TWinInetDownloadThread::Probe(TDownloadJobBase::DownloadRecord& record,
                                                              uint64_t& last_modified) {
    LauncherLog& log = LauncherLog::Instance();
    log.Write(L"%d|OpenUrl1 to : %ls\n", serial_, record.url.c_str());
    const Opened opened = OpenUrl(record.url, L"", L"%d|InternetOpenUrl pending 1\n", L"%d|timeout 5\n");
    if (opened == Opened::kAborted) return Outcome::kFailed;
    if (opened != Opened::kOpened) {
        const DWORD error = request_.Error() ? request_.Error() : GetLastError();
        log.Write(L"%d|InternetOpenUrl failed with error %d, please check your internet "
                  L"connection. bRetry = %d, m_hInetUrl = %d\n",
                  serial_, int(error), int(retry_), int(request_.IsOpen()));
        job_->SetErrorText(L"InternetOpenUrl failed, Error:" + SystemErrorText(error));
        return Outcome::kRetry;
    }
    return ReadProbeAnswer(record, last_modified);
}

TWinInetDownloadThread::Outcome TWinInetDownloadThread::ReadProbeAnswer(TDownloadJobBase::DownloadRecord& record,
                                                                        uint64_t& last_modified) {
    LauncherLog& log = LauncherLog::Instance();
    const int status = request_.StatusCode();
    if (status < 0) {
        const DWORD error = GetLastError();
        log.Write(L"%d|HttpQueryInfo error with %d.\n", serial_, int(error));
        job_->SetErrorText(L"HttpQueryInfo failed, Error:" + SystemErrorText(error));
        return Outcome::kRetry;
    }
    if (status != HTTP_STATUS_OK) {
        SetHttpError(status, record.url);
        return Outcome::kRetry;
    }
    if (job_->GetTotal() <= 0) {
        int64_t length = 0;
        if (!QueryContentLength(request_, length)) {
            log.Write(L"%d|HttpQueryInfo error with %d, can't get file length, can't resume.\n", serial_,
                      int(GetLastError()));
        } else if (length > record.max_bytes) {
            log.Write(L"%d|File length %lld is over the limit %lld, refused.\n", serial_, (long long)length,
                      (long long)record.max_bytes);
            job_->SetErrorText(L"File is larger than the launcher accepts.");
            return Outcome::kFailed;
        } else {
            if (record.callback) record.callback->OnTotalKnown(job_, length);
            job_->SetTotal(length);
        }
    }
    last_modified = LastModifiedOf(request_);
    return Outcome::kNext;
}

// Asks the resume record how much of an earlier transfer still counts; total is the
// file's length as far as it is known (0 when not).
TWinInetDownloadThread::Outcome TWinInetDownloadThread::PrepareTransferFile(uint64_t last_modified,
                                                                            int64_t& total) {
    if (!PrepareLocalFile(last_modified, bytes_)) return Outcome::kFailed;
    total = job_->GetTotal();
    if (bytes_ == total && total != 0) {
        LauncherLog::Instance().Write(L"%d|File already completed, skip.\n", serial_);
        return Outcome::kSucceeded;
    }
    // A record that vouches for more than the server now has cannot be resumed.
    if (total != 0 && bytes_ > total) {
        bytes_ = 0;
        if (!writer_.Open(0, bytes_)) return Outcome::kFailed;
    }
    return Outcome::kNext;
}

TWinInetDownloadThread::Outcome TWinInetDownloadThread::OpenBody(TDownloadJobBase::DownloadRecord& record) {
    LauncherLog& log = LauncherLog::Instance();
    if (bytes_ == 0) {
        // A fresh start reads the probe's own answer: a second request for the same bytes
        // would cost a round trip, and closing an unread answer makes Wine's WinINet drain
        // the body for as long as the server keeps up, which on a fast line is all of it.
        log.Write(L"%d|setup download from: %lld \n", serial_, 0LL);
    } else {
        DropCurrentJob();
        const Outcome transfer = OpenTransfer(record, bytes_);
        if (transfer != Outcome::kNext) return transfer;
    }
    if (!request_.IsOpen()) {
        const DWORD error = GetLastError();
        log.Write(L"%d|InternetOpenUrl failed with error %d, please check your internet connection.\n", serial_,
                  int(error));
        job_->SetErrorText(L"InternetOpenUrl failed，error：" + SystemErrorText(error));
        return Outcome::kRetry;
    }
    return Outcome::kNext;
}

TWinInetDownloadThread::Outcome TWinInetDownloadThread::OpenTransfer(TDownloadJobBase::DownloadRecord& record,
                                                                     int64_t offset) {
    LauncherLog& log = LauncherLog::Instance();
    log.Write(L"%d|setup download from: %lld \n", serial_, (long long)offset);
    const bool resume = offset > 0;
    const std::wstring header = resume ? FormatText(L"Range: bytes=%lld-", (long long)offset) : L"";
    const wchar_t* number = resume ? L"3" : L"4";
    log.Write(L"%d|InternetOpenUrl %ls\n", serial_, number);
    const Opened opened = OpenUrl(record.url, header,
                                  resume ? L"%d|InternetOpenUrl pending 3\n" : L"%d|InternetOpenUrl pending 4\n",
                                  resume ? L"%d|timeout 3\n" : L"%d|timeout 4\n");
    if (opened == Opened::kAborted) return Outcome::kFailed;
    if (opened == Opened::kTimedOut) DropCurrentJob();
    log.Write(L"%d|InternetOpenUrl %ls completed bRetry = %d, m_hInetUrl = %d\n", serial_, number, int(retry_),
              int(request_.IsOpen()));
    if (opened != Opened::kOpened) {
        log.Write(L"%d|retry %ls\n", serial_, number);
        DropCurrentJob();
        retry_ = false;
        return PauseAfterFailure() ? Outcome::kFailed : Outcome::kRetry;
    }
    return AcceptTransferAnswer(record, offset);
}

// The answer decides where the body belongs: a resumed transfer only accepts 206 with the
// range it asked for; a server that ignores Range sends the whole file with 200, which
// then starts this attempt over from byte 0.
TWinInetDownloadThread::Outcome TWinInetDownloadThread::AcceptTransferAnswer(TDownloadJobBase::DownloadRecord& record,
                                                                             int64_t offset) {
    LauncherLog& log = LauncherLog::Instance();
    const bool resume = offset > 0;
    const int status = request_.StatusCode();
    if (resume && status == HTTP_STATUS_PARTIAL_CONTENT && ContentRangeStartsAt(request_, offset)) {
        log.Write(L"%d|Resume from %lld.\n", serial_, (long long)offset);
        Report(record, offset);
        job_->AddDownloaded(offset);
        return Outcome::kNext;
    }
    if (status == HTTP_STATUS_OK) {
        if (resume) {
            log.Write(L"%d|Range ignored by the server, download from the start.\n", serial_);
            bytes_ = 0;
            int64_t fresh = 0;
            if (!writer_.Open(0, fresh)) return Outcome::kRetry;
        }
        return Outcome::kNext;
    }
    if (status < 0) {
        const DWORD error = GetLastError();
        log.Write(L"%d|HttpQueryInfo error with %d.\n", serial_, int(error));
        job_->SetErrorText(L"HttpQueryInfo failed, Error:" + SystemErrorText(error));
    } else {
        SetHttpError(status, record.url);
    }
    DropCurrentJob();
    return PauseAfterFailure() ? Outcome::kFailed : Outcome::kRetry;
}

// Reads the body into the write thread until it ends (kNext); an endless or oversized
// body is cut at the known total and the attempt fails.
TWinInetDownloadThread::Outcome TWinInetDownloadThread::ReadBody(TDownloadJobBase::DownloadRecord& record,
                                                                 int64_t total) {
    LauncherLog& log = LauncherLog::Instance();
    log.Write(L"%d|Start downloading：%ls\n", serial_, record.transfer_file.c_str());
    for (;;) {
        if (CheckAborted()) return Outcome::kFailed;
        // Under a rate cap a read asks for no more than a short burst's worth.
        CSTDownloadManager* manager = job_->Manager();
        const size_t want = manager ? manager->RateLimiter().ReadAllowance(kReadSize) : kReadSize;
        size_t n = 0;
        const Outcome read = ReadChunk(want, n);
        if (read != Outcome::kNext) return read;
        if (n > want) return Outcome::kRetry;
        // A body of unknown length ends where the job's bound says, not when the disk is full.
        if (total <= 0 && bytes_ + int64_t(n) > record.max_bytes) {
            log.Write(L"%d|File length %lld is over the limit %lld, refused.\n", serial_,
                      (long long)(bytes_ + int64_t(n)), (long long)record.max_bytes);
            job_->SetErrorText(L"File is larger than the launcher accepts.");
            return Outcome::kFailed;
        }
        if (total > 0 && bytes_ + int64_t(n) > total) {
            log.Write(L"%d|Received more than the total %lld, retry.\n", serial_, (long long)total);
            job_->SetErrorText(L"Size of downloaded file dose not match.");
            return Outcome::kRetry;
        }
        Report(record, int64_t(n));
        if (n == 0) return Outcome::kNext;
        job_->AddDownloaded(int64_t(n));
        const Outcome delivered = Deliver(request_.Data(), n);
        if (delivered != Outcome::kNext) return delivered;
        bytes_ += int64_t(n);
        if (!PaceAfterRead(n)) return Outcome::kFailed;
    }
}

bool TWinInetDownloadThread::PaceAfterRead(size_t length) {
    CSTDownloadManager* manager = job_->Manager();
    if (!manager) return true;
    const int64_t wait_us = manager->RateLimiter().Take(length);
    if (wait_us <= 0) return true;
    if (!WaitForStop(DWORD((wait_us + 999) / 1000))) return true;
    CheckAborted();
    return false;
}

// One read of at most want bytes into the request's buffer; length is what arrived (0 at
// the end of the body).
TWinInetDownloadThread::Outcome TWinInetDownloadThread::ReadChunk(size_t want, size_t& length) {
    LauncherLog& log = LauncherLog::Instance();
    InetWait wait;
    wait.cancel = StopEvent();
    wait.timeout_ms = timeouts_.read_stall_ms;
    wait.on_pending = [this] { LauncherLog::Instance().Write(L"%d|InternetReadFileEx pending\n", serial_); };
    switch (request_.Read(std::min(want, kReadSize), length, wait)) {
    case InetRequest::Outcome::kDone:
        return Outcome::kNext;
    case InetRequest::Outcome::kCancelled:
        CheckAborted();
        return Outcome::kFailed;
    case InetRequest::Outcome::kTimedOut:
        log.Write(L"%d| No Data Recevied, Retry!!!!\n", serial_);
        return Outcome::kRetry;
    case InetRequest::Outcome::kFailed:
        break;
    }
    const DWORD error = request_.Error();
    log.Write(L"%d|InternetReadFileExA failed with error %d.\n", serial_, int(error));
    job_->SetErrorText(L"InternetReadFile failed，Error:" + SystemErrorText(error));
    return Outcome::kRetry;
}

// The body has ended: it must have brought exactly the total, and the write thread then
// gets the end of the data, after which it completes the job.
TWinInetDownloadThread::Outcome TWinInetDownloadThread::EndBody() {
    const int64_t expected = job_->GetTotal();
    if (bytes_ != expected) {
        LauncherLog::Instance().Write(L"%d| READ 0 BYTES !!!!  downloaded %lld, total %lld\n", serial_,
                                      (long long)bytes_, (long long)expected);
        // Should the retries run out here, the run's error list needs this job's line.
        job_->SetErrorText(L"Size of downloaded file dose not match.");
        return Outcome::kRetry;
    }
    const Outcome delivered = Deliver(request_.Data(), 0);
    return delivered == Outcome::kNext ? Outcome::kSucceeded : delivered;
}

}  // namespace velm
