#pragma once
// Shared pieces of the download tests under Wine: the folders the loopback servers serve
// and the jobs write to, a callback that records every report and lets a test wait for
// them, and running jobs through a real manager until they are done.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "common/captured_log.h"
#include "download/download_job_win32.h"
#include "download/download_manager_win32.h"
#include "download/download_timeouts.h"
#include "download/winnet_download_job_win32.h"

namespace velm::test {

std::string Env(const char* name);
// "Z:" + the Unix path with backslashes: how Wine reaches a Unix file.
std::wstring WinPath(const std::string& unix_path);

// Served by both nginx and the fault server (the CTest entry passes this folder to both).
std::string WwwDir();
// Where the jobs write; one folder per test.
std::string OutDir(const std::string& test);

void PutServedFile(const std::string& relative, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadLocal(const std::wstring& path);
bool LocalExists(const std::wstring& path);

// Short limits so that a stalled server costs a second or two, not a minute.
DownloadTimeouts FastTimeouts();

// The bound of every wait of the download tests: only a hang reaches it.
inline constexpr DWORD kHangMs = 120000;

// The launcher log of this process, in the test's output folder.
class LogCapture : public CapturedLog {
public:
    explicit LogCapture(const std::string& test);
};

// Requests the fault server has seen, one JSON text per line.
std::vector<std::string> FaultRequests(const std::string& path);

class RecordingCallback : public TDownloadJobBase::DownloadFileCallback {
public:
    void OnProgress(TDownloadJobBase* job, int64_t delta) override;
    void OnTotalKnown(TDownloadJobBase*, int64_t total) override;
    void OnJobComplete(TDownloadJobBase*, int32_t success) override;

    std::vector<int64_t> Deltas();
    int64_t Sum();
    std::vector<int32_t> Completions();
    // Wait (at most kHangMs) until the progress adds up to at least bytes, or until count
    // jobs have reported their end; false after the bound.
    bool WaitForBytes(int64_t bytes);
    bool WaitForCompletions(size_t count);
    // Runs on the reporting thread with every progress report, after it is recorded.
    std::function<void(TDownloadJobBase* job, int64_t sum)> on_progress;

private:
    bool WaitUntil(const std::function<bool()>& done);

    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<int64_t> deltas_;
    int64_t sum_ = 0;
    std::vector<int32_t> completions_;
    int64_t total_ = -1;
};

// Also reports whether the manager's lock was free while a job's end was reported: the
// update run hashes and patches files there, and under that lock the window's timer (and
// a close of the window) would wait for all of it.
class LockProbingCallback : public RecordingCallback {
public:
    explicit LockProbingCallback(CSTDownloadManager& manager) : manager_(manager) {}
    void OnJobComplete(TDownloadJobBase* job, int32_t success) override;
    bool UnderLock() const { return under_lock_; }

private:
    CSTDownloadManager& manager_;
    std::atomic<bool> under_lock_{false};
};

TWinInetDownloadJob* MakeJob(const std::string& url, const std::wstring& local,
                             TDownloadJobBase::DownloadFileCallback* callback,
                             int64_t expected_size = 0, uint32_t flags = 0,
                             const DownloadTimeouts& timeouts = FastTimeouts());

// Starts the manager and waits until every job is Done; false only when that takes
// kHangMs.
bool RunUntilDone(CSTDownloadManager& manager);

// Waits until the job's state is one of the two (the engine reports no state change but
// the end, so this one looks); false only after kHangMs.
bool WaitForState(TDownloadJobBase& job, int32_t state, int32_t or_state = -1);

}  // namespace velm::test
