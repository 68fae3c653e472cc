#pragma once
// Shared pieces of the download tests under Wine: the folders the loopback servers serve
// and the jobs write to, a callback that records every report, and running jobs through
// a real manager until they are done.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
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

// The launcher log of this process, in the test's output folder.
class LogCapture : public CapturedLog {
public:
    explicit LogCapture(const std::string& test);
};

// Requests the fault server has seen, one JSON text per line.
std::vector<std::string> FaultRequests(const std::string& path);

class RecordingCallback : public TDownloadJobBase::DownloadFileCallback {
public:
    int32_t OnReserved0(uintptr_t) override { return 1; }
    int32_t OnReserved1() override { return 1; }
    void OnProgress(TDownloadJobBase*, int64_t delta) override;
    void OnTotalKnown(TDownloadJobBase*, int64_t total) override;
    void OnJobComplete(TDownloadJobBase*, int32_t success) override;
    void OnMessage(const std::wstring&) override {}
    void OnAddTotal(int64_t) override {}

    std::vector<int64_t> Deltas();
    int64_t Sum();
    std::vector<int32_t> Completions();

private:
    std::mutex lock_;
    std::vector<int64_t> deltas_;
    std::vector<int32_t> completions_;
    int64_t total_ = -1;
};

TWinInetDownloadJob* MakeJob(const std::string& url, const std::wstring& local,
                             TDownloadJobBase::DownloadFileCallback* callback,
                             int64_t expected_size = 0, uint32_t flags = 0,
                             const DownloadTimeouts& timeouts = FastTimeouts());

// Starts the manager and waits (at most timeout_ms) until every job is Done.
bool RunUntilDone(CSTDownloadManager& manager, DWORD timeout_ms = 60000);

}  // namespace velm::test
