// One attempt of the HTTP download thread, step by step: restart the writer, probe the
// URL, settle the resume point, open the body where it continues, read it into the write
// thread, and check its end. Each step ends with a Step; kNext goes on to the next one.
#include "download/http_download_thread_win32.h"

#include <algorithm>

#include "common/log.h"
#include "common/system_error_win32.h"
#include "common/text.h"
#include "common/url.h"
#include "download/download_manager_win32.h"
#include "download/file_write_thread_win32.h"

namespace velm {
namespace {

constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
constexpr uint64_t kUnknownFileTime = ~uint64_t(0);
// Far beyond any game file; keeps a hostile length from passing for a size.
constexpr int64_t kMaxContentLength = int64_t(1) << 50;

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

// The year is 0xFFFF when the answer has no usable Last-Modified.
SYSTEMTIME QueryLastModified(HINTERNET request) {
    SYSTEMTIME modified{};
    DWORD size = sizeof(modified);
    if (!HttpQueryInfoW(request, HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, &modified,
                        &size, nullptr))
        modified.wYear = 0xFFFF;
    return modified;
}

uint64_t FileTimeOf(const SYSTEMTIME& modified) {
    FILETIME file_time;
    if (modified.wYear == 0xFFFF || !SystemTimeToFileTime(&modified, &file_time))
        return kUnknownFileTime;
    return uint64_t(file_time.dwHighDateTime) << 32 | file_time.dwLowDateTime;
}

}  // namespace

TWinInetDownloadThread::Step TWinInetDownloadThread::RunAttempt(
    TDownloadJobBase::DownloadRecord* record, int& attempt) {
    uint64_t last_modified = kUnknownFileTime;
    int64_t total = 0;
    Step step = StartAttempt(record, attempt);
    if (step == kNext) step = Probe(record, last_modified);
    if (step == kNext) step = PrepareTransferFile(last_modified, total);
    if (step == kNext) step = OpenBody(record);
    if (step == kNext) step = ReadBody(record, total);
    if (step == kNext) step = EndBody();
    return step;
}

// Takes back the progress of the previous attempt and starts the writer afresh.
TWinInetDownloadThread::Step TWinInetDownloadThread::StartAttempt(
    TDownloadJobBase::DownloadRecord* record, int& attempt) {
    const int64_t take_back = counted_;
    Report(record, -take_back);
    job_->AddDownloaded(-take_back);
    LauncherLog::Instance().Write(L"%d|currentretry %d\n", serial_, attempt);
    if (!RestartWriter(record)) {
        job_->SetErrorText(L"Create thread failed, Error:" + SystemErrorText(GetLastError()));
        return kFailed;
    }
    DropCurrentJob();
    retry_ = false;
    if (++attempt >= kAttemptLimit) return kFailed;
    return kNext;
}

// Opens url on the root handle into request_. kWaitNotNeeded when the call did not go
// pending, whether it opened the URL or failed (request_ then stays empty and the error is
// still the thread's last error); otherwise how the wait for its completion ended.
TWinInetDownloadThread::Wait TWinInetDownloadThread::OpenUrl(const std::wstring& url,
                                                             const std::wstring* header,
                                                             const wchar_t* pending_line,
                                                             const wchar_t* timeout_line) {
    const std::wstring request_url = EscapeUrlForRequest(url);
    HINTERNET opened = InternetOpenUrlW(root_.Get(), request_url.c_str(),
                                        header ? header->c_str() : nullptr, header ? DWORD(-1) : 0,
                                        kRequestFlags, context_id_);
    if (opened) {
        request_.Reset(opened);
        return kWaitNotNeeded;
    }
    if (GetLastError() != ERROR_IO_PENDING) return kWaitNotNeeded;
    LauncherLog::Instance().Write(pending_line, serial_);
    return WaitForRequest(timeouts_.request_timeout_ms, timeout_line);
}

// The first request of an attempt: its answer gives the status, the file's time and length.
TWinInetDownloadThread::Step TWinInetDownloadThread::Probe(TDownloadJobBase::DownloadRecord* record,
                                                           uint64_t& last_modified) {
    LauncherLog& log = LauncherLog::Instance();
    EnsureBound();
    log.Write(L"%d|OpenUrl1 to : %ls\n", serial_, record->url.c_str());
    const Wait waited = OpenUrl(record->url, nullptr, L"%d|InternetOpenUrl pending 1\n", L"%d|timeout 5\n");
    if (waited == kWaitAborted) return kFailed;
    if (waited == kWaitTimedOut) job_->SetErrorText(L"InternetOpenUrl 1 timeout");
    if (waited != kWaitNotNeeded && (retry_ || !request_)) {
        DWORD error = async_error_ ? DWORD(async_error_) : GetLastError();
        log.Write(L"%d|InternetOpenUrl failed with error %d, please check your internet "
                  L"connection. bRetry = %d, m_hInetUrl = %d\n",
                  serial_, int(error), int(retry_), int(bool(request_)));
        job_->SetErrorText(L"InternetOpenUrl failed, Error:" + SystemErrorText(error));
        return kRetry;
    }
    return ReadProbeAnswer(record, last_modified);
}

TWinInetDownloadThread::Step TWinInetDownloadThread::ReadProbeAnswer(
    TDownloadJobBase::DownloadRecord* record, uint64_t& last_modified) {
    LauncherLog& log = LauncherLog::Instance();
    const int status = HttpStatus();
    if (status < 0) {
        DWORD error = async_error_ ? DWORD(async_error_) : GetLastError();
        log.Write(L"%d|HttpQueryInfo error with %d.\n", serial_, int(error));
        job_->SetErrorText(L"HttpQueryInfo failed, Error:" + SystemErrorText(error));
        return kRetry;
    }
    if (status != HTTP_STATUS_OK) {
        SetHttpError(DWORD(status), record->url);
        return kRetry;
    }
    const SYSTEMTIME modified = QueryLastModified(request_.Get());
    if (job_->GetTotal() <= 0) {
        int64_t length = 0;
        if (!QueryContentLength(request_.Get(), length)) {
            log.Write(L"%d|HttpQueryInfo error with %d, can't get file length, can't resume.\n",
                      serial_, int(GetLastError()));
        } else if (length > record->max_bytes) {
            log.Write(L"%d|File length %lld is over the limit %lld, refused.\n", serial_,
                      (long long)length, (long long)record->max_bytes);
            job_->SetErrorText(L"File is larger than the launcher accepts.");
            return kFailed;
        } else {
            if (record->callback) record->callback->OnTotalKnown(job_, length);
            job_->SetTotal(length);
        }
    }
    last_modified = FileTimeOf(modified);
    return kNext;
}

// Asks the resume record how much of an earlier transfer still counts; total is the
// file's length as far as it is known (0 when not).
TWinInetDownloadThread::Step TWinInetDownloadThread::PrepareTransferFile(uint64_t last_modified,
                                                                         int64_t& total) {
    if (!PrepareLocalFile(last_modified, bytes_)) return kFailed;
    total = job_->GetTotal();
    if (bytes_ == total && total != 0) {
        LauncherLog::Instance().Write(L"%d|File already completed, skip.\n", serial_);
        return kSucceeded;
    }
    // A record that vouches for more than the server now has cannot be resumed.
    if (total != 0 && bytes_ > total) {
        bytes_ = 0;
        if (!writer_.Open(0, bytes_)) return kFailed;
    }
    return kNext;
}

TWinInetDownloadThread::Step TWinInetDownloadThread::OpenBody(TDownloadJobBase::DownloadRecord* record) {
    LauncherLog& log = LauncherLog::Instance();
    if (bytes_ == 0) {
        // A fresh start reads the probe's own answer: a second request for the same bytes
        // would cost a round trip, and closing an unread answer makes Wine's WinINet drain
        // the body for as long as the server keeps up, which on a fast line is all of it.
        log.Write(L"%d|setup download from: %lld \n", serial_, 0LL);
    } else {
        DropCurrentJob();
        const int transfer = OpenTransfer(record, bytes_);
        if (transfer < 0) return kFailed;
        if (transfer == 0) return kRetry;
    }
    if (!request_) {
        DWORD error = GetLastError();
        log.Write(L"%d|InternetOpenUrl failed with error %d, please check your internet connection.\n",
                  serial_, int(error));
        job_->SetErrorText(L"InternetOpenUrl failed，error：" + SystemErrorText(error));
        return kRetry;
    }
    return kNext;
}

int TWinInetDownloadThread::OpenTransfer(TDownloadJobBase::DownloadRecord* record, int64_t offset) {
    LauncherLog& log = LauncherLog::Instance();
    log.Write(L"%d|setup download from: %lld \n", serial_, (long long)offset);
    if (!record) return 0;
    const bool resume = offset > 0;
    const std::wstring header = resume ? FormatText(L"Range: bytes=%lld-", (long long)offset) : L"";
    const wchar_t* number = resume ? L"3" : L"4";
    EnsureBound();
    log.Write(L"%d|InternetOpenUrl %ls\n", serial_, number);
    const Wait waited =
        OpenUrl(record->url, resume ? &header : nullptr,
                resume ? L"%d|InternetOpenUrl pending 3\n" : L"%d|InternetOpenUrl pending 4\n",
                resume ? L"%d|timeout 3\n" : L"%d|timeout 4\n");
    if (waited == kWaitAborted) return -1;
    if (waited == kWaitTimedOut) DropCurrentJob();
    log.Write(L"%d|InternetOpenUrl %ls completed bRetry = %d, m_hInetUrl = %d\n", serial_, number,
              int(retry_), int(bool(request_)));
    if (retry_ || !request_) {
        log.Write(L"%d|retry %ls\n", serial_, number);
        DropCurrentJob();
        retry_ = false;
        return PauseAfterFailure();
    }
    return AcceptTransferAnswer(record, offset);
}

// The answer decides where the body belongs: a resumed transfer only accepts 206 with the
// range it asked for; a server that ignores Range sends the whole file with 200, which
// then starts this attempt over from byte 0.
int TWinInetDownloadThread::AcceptTransferAnswer(TDownloadJobBase::DownloadRecord* record,
                                                 int64_t offset) {
    LauncherLog& log = LauncherLog::Instance();
    const bool resume = offset > 0;
    const int status = HttpStatus();
    if (resume && status == HTTP_STATUS_PARTIAL_CONTENT && ContentRangeStartsAt(request_.Get(), offset)) {
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

// Reads the body into the write thread until it ends (kNext); an endless or oversized
// body is cut at the known total and the attempt fails.
TWinInetDownloadThread::Step TWinInetDownloadThread::ReadBody(TDownloadJobBase::DownloadRecord* record,
                                                              int64_t total) {
    LauncherLog& log = LauncherLog::Instance();
    log.Write(L"%d|Start downloading：%ls\n", serial_, record->transfer_file.c_str());
    for (;;) {
        if (CheckAborted()) return kFailed;
        // Under a rate cap a read asks for no more than a short burst's worth.
        CSTDownloadManager* manager = job_->Manager();
        const size_t want = manager ? manager->RateLimiter().ReadAllowance(kReadSize) : kReadSize;
        size_t n = 0;
        const Step read = ReadChunk(want, n);
        if (read != kNext) return read;
        if (n > want) return kRetry;
        // A body of unknown length ends where the job's bound says, not when the disk is full.
        if (total <= 0 && bytes_ + int64_t(n) > record->max_bytes) {
            log.Write(L"%d|File length %lld is over the limit %lld, refused.\n", serial_,
                      (long long)(bytes_ + int64_t(n)), (long long)record->max_bytes);
            job_->SetErrorText(L"File is larger than the launcher accepts.");
            return kFailed;
        }
        if (total > 0 && bytes_ + int64_t(n) > total) {
            log.Write(L"%d|Received more than the total %lld, retry.\n", serial_, (long long)total);
            job_->SetErrorText(L"Size of downloaded file dose not match.");
            return kRetry;
        }
        Report(record, int64_t(n));
        if (n == 0) return kNext;
        job_->AddDownloaded(int64_t(n));
        const int delivered = DeliverUntilTaken(read_->buffer, n);
        if (delivered == -1) return kFailed;
        if (delivered == -2) return kWriteFailed;
        bytes_ += int64_t(n);
        if (!PaceAfterRead(n)) return kFailed;
    }
}

int TWinInetDownloadThread::PaceAfterRead(size_t length) {
    CSTDownloadManager* manager = job_->Manager();
    if (!manager) return 1;
    const int64_t wait_us = manager->RateLimiter().Take(length);
    if (wait_us <= 0) return 1;
    constexpr int64_t kSliceMs = 50;
    const int64_t until = DownloadRateLimiter::NowMicros() + wait_us;
    for (;;) {
        const int64_t left_us = until - DownloadRateLimiter::NowMicros();
        if (left_us <= 0) return 1;
        const int64_t slice_ms = std::min<int64_t>((left_us + 999) / 1000, kSliceMs);
        if (WaitForStop(DWORD(slice_ms))) {
            CheckAborted();
            return 0;
        }
    }
}

// One read of at most want bytes into the current read slot; length is what arrived (0 at
// the end of the body).
TWinInetDownloadThread::Step TWinInetDownloadThread::ReadChunk(size_t want, size_t& length) {
    LauncherLog& log = LauncherLog::Instance();
    INTERNET_BUFFERSA& buffer = read_->request;
    buffer = INTERNET_BUFFERSA{};
    buffer.dwStructSize = sizeof(buffer);
    buffer.lpvBuffer = read_->buffer;
    buffer.dwBufferLength = DWORD(std::min(want, kReadSize));
    if (InternetReadFileExA(request_.Get(), &buffer, IRF_ASYNC, context_id_)) {
        length = buffer.dwBufferLength;
        return kNext;
    }
    DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
        log.Write(L"%d|InternetReadFileEx pending\n", serial_);
        const Wait waited = WaitForRequest(timeouts_.read_stall_ms, L"%d| No Data Recevied, Retry!!!!\n");
        if (waited == kWaitAborted || waited == kWaitTimedOut) {
            AbandonPendingRead();
            return waited == kWaitAborted ? kFailed : kRetry;
        }
        if (!async_error_) {
            length = buffer.dwBufferLength;
            return kNext;
        }
        error = async_error_;
    }
    log.Write(L"%d|InternetReadFileExA failed with error %d.\n", serial_, int(error));
    job_->SetErrorText(L"InternetReadFile failed，Error:" + SystemErrorText(error));
    return kRetry;
}

void TWinInetDownloadThread::AbandonPendingRead() {
    abandoned_reads_.push_back(std::move(read_));
    read_ = std::make_unique<ReadSlot>();
}

// The body has ended: it must have brought exactly the total, and the write thread then
// gets the end of the data, after which it completes the job.
TWinInetDownloadThread::Step TWinInetDownloadThread::EndBody() {
    const int64_t expected = job_->GetTotal();
    if (bytes_ != expected) {
        LauncherLog::Instance().Write(L"%d| READ 0 BYTES !!!!  downloaded %lld, total %lld\n",
                                      serial_, (long long)bytes_, (long long)expected);
        // Should the retries run out here, the run's error list needs this job's line.
        job_->SetErrorText(L"Size of downloaded file dose not match.");
        return kRetry;
    }
    const int delivered = DeliverUntilTaken(read_->buffer, 0);
    if (delivered == -2) return kWriteFailed;
    return delivered == 1 ? kSucceeded : kFailed;
}

}  // namespace velm
