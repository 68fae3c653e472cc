#include "services/report_list_win32.h"

#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "common/log.h"
#include "common/sync_win32.h"
#include "services/http_post_win32.h"
#include "services/machine_id_win32.h"
#include "services/report_body.h"

namespace velm {
namespace {

// A straggler's handles are closed before this wait, so it normally ends at once; the
// wait only bounds a thread stuck somewhere else before it is terminated.
constexpr DWORD kStragglerStopMs = 1000;

class ReportList {
public:
    static ReportList& Instance() {
        // Never destroyed: requests may still be posted by other threads during exit.
        static ReportList* list = new ReportList();
        return *list;
    }

    void Init(const std::wstring& url, const std::wstring& channel) {
        ScopedLock guard(lock_);
        url_ = url;
        channel_ = channel;
    }

    ReportSend Report(const std::wstring& event, const std::wstring& extra) {
        ScopedLock guard(lock_);
        // The identifier does not change during a run: look it up once.
        if (machine_id_.empty()) machine_id_ = MachineId();
        std::wstring body = ReportBody(machine_id_, event, channel_, extra);
        if (sent_.count(body)) return ReportSend::kDuplicate;
        LauncherLog::Instance().Write(L"PostLauncherReport\n");
        if (!StartLocked(url_, L"POST", body)) return ReportSend::kFailed;
        sent_.insert(std::move(body));
        return ReportSend::kStarted;
    }

    bool Request(const std::wstring& url, const std::wstring& method, const std::wstring& body) {
        ScopedLock guard(lock_);
        return StartLocked(url, method, body);
    }

    void SetWait(DWORD wait_ms) {
        ScopedLock guard(lock_);
        wait_ms_ = wait_ms;
    }

    DWORD Wait() {
        ScopedLock guard(lock_);
        return wait_ms_;
    }

    int WaitAll() {
        std::vector<std::unique_ptr<HTTPPost>> threads;
        DWORD wait_ms;
        {
            ScopedLock guard(lock_);
            threads.swap(threads_);
            wait_ms = wait_ms_;
        }
        // Waiting outside the lock lets other threads keep posting meanwhile.
        ULONGLONG deadline = GetTickCount64() + wait_ms;
        int stopped = 0;
        for (auto& thread : threads) {
            ULONGLONG now = GetTickCount64();
            DWORD left = now < deadline ? DWORD(deadline - now) : 0;
            if (!thread->Join(left)) {
                thread->Stop(kStragglerStopMs);
                ++stopped;
            }
            thread.reset();
        }
        return stopped;
    }

private:
    ReportList() { lock_.Init(); }

    bool StartLocked(const std::wstring& url, const std::wstring& method,
                     const std::wstring& body) {
        auto thread = std::make_unique<HTTPPost>(url, method, body);
        if (!thread->Start()) return false;
        threads_.push_back(std::move(thread));
        return true;
    }

    CriticalSection lock_;
    std::wstring url_;
    std::wstring channel_;
    std::wstring machine_id_;
    DWORD wait_ms_ = kReportWaitMs;
    // Bodies of the reports sent in this run; kept after their threads are gone so that
    // a report is never sent twice.
    std::set<std::wstring> sent_;
    std::vector<std::unique_ptr<HTTPPost>> threads_;
};

}  // namespace

void InitReports(const std::wstring& report_url, const std::wstring& channel) {
    ReportList::Instance().Init(report_url, channel);
}

ReportSend PostLauncherReport(const std::wstring& event, const std::wstring& extra) {
    return ReportList::Instance().Report(event, extra);
}

bool PostRequest(const std::wstring& url, const std::wstring& method, const std::wstring& body) {
    return ReportList::Instance().Request(url, method, body);
}

void SetReportWaitTime(DWORD wait_ms) { ReportList::Instance().SetWait(wait_ms); }

DWORD ReportWaitTime() { return ReportList::Instance().Wait(); }

int WaitForReportThreads() { return ReportList::Instance().WaitAll(); }

}  // namespace velm
