#include "download_fixture_win32.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "common/file_io.h"
#include "common/log.h"
#include "common/sync_win32.h"
#include "common/text.h"

namespace velm::test {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::wstring WinPath(const std::string& unix_path) {
    std::wstring path = L"Z:" + Utf8ToWide(unix_path);
    for (auto& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

std::string WwwDir() { return Env("VELM_BINARY_DIR") + "/download_www"; }

std::string OutDir(const std::string& test) {
    std::string dir = Env("VELM_BINARY_DIR") + "/download_out/" + test;
    CreateDirectoryW(WinPath(Env("VELM_BINARY_DIR") + "/download_out").c_str(), nullptr);
    CreateDirectoryW(WinPath(dir).c_str(), nullptr);
    return dir;
}

void PutServedFile(const std::string& relative, const std::vector<uint8_t>& bytes) {
    std::string path = WwwDir() + "/" + relative;
    std::string folder = path.substr(0, path.rfind('/'));
    CreateDirectoryW(WinPath(folder).c_str(), nullptr);
    ASSERT_TRUE(WriteWholeFile(WinPath(path), bytes.data(), bytes.size())) << path;
}

std::vector<uint8_t> ReadLocal(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    ReadWholeFile(path, bytes, uint64_t(1) << 31);
    return bytes;
}

bool LocalExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

DownloadTimeouts FastTimeouts() {
    DownloadTimeouts timeouts;
    timeouts.request_timeout_ms = 5000;
    timeouts.read_stall_ms = 1500;
    timeouts.retry_pause_ms = 100;
    return timeouts;
}

LogCapture::LogCapture(const std::string& test) : CapturedLog(WinPath(OutDir(test) + "/launcher.log")) {}

std::vector<std::string> FaultRequests(const std::string& path) {
    std::vector<uint8_t> bytes;
    ReadWholeFile(Utf8ToWide(Env("VELM_FAULT_LOG_WIN")), bytes, uint64_t(16) << 20);
    std::string text(bytes.begin(), bytes.end());
    std::vector<std::string> lines;
    const std::string key = "\"path\": \"" + path + "\"";
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(begin, end - begin);
        if (line.find(key) != std::string::npos) lines.push_back(line);
        begin = end + 1;
    }
    return lines;
}

void RecordingCallback::OnProgress(TDownloadJobBase* job, int64_t delta) {
    int64_t sum = 0;
    {
        std::lock_guard<std::mutex> hold(lock_);
        deltas_.push_back(delta);
        sum = sum_ += delta;
    }
    changed_.notify_all();
    if (on_progress) on_progress(job, sum);
}

void RecordingCallback::OnTotalKnown(TDownloadJobBase*, int64_t total) {
    std::lock_guard<std::mutex> hold(lock_);
    total_ = total;
}

void RecordingCallback::OnJobComplete(TDownloadJobBase*, int32_t success) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        completions_.push_back(success);
    }
    changed_.notify_all();
}

void LockProbingCallback::OnJobComplete(TDownloadJobBase* job, int32_t success) {
    RecordingCallback::OnJobComplete(job, success);
    // Another thread asks for the lock. Were it held by this thread, that one would wait
    // for this call to return, and this wait would run into its bound.
    auto asked = std::make_shared<Event>();
    asked->Create(true, false);
    CSTDownloadManager* manager = &manager_;
    std::thread([manager, asked] {
        manager->CountActiveJobs();
        asked->Set();
    }).detach();
    if (!asked->Wait(kHangMs)) under_lock_ = true;
}

bool RecordingCallback::WaitUntil(const std::function<bool()>& done) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::milliseconds(kHangMs), done);
}

bool RecordingCallback::WaitForBytes(int64_t bytes) {
    return WaitUntil([&] { return sum_ >= bytes; });
}

bool RecordingCallback::WaitForCompletions(size_t count) {
    return WaitUntil([&] { return completions_.size() >= count; });
}

std::vector<int64_t> RecordingCallback::Deltas() {
    std::lock_guard<std::mutex> hold(lock_);
    return deltas_;
}

int64_t RecordingCallback::Sum() {
    std::lock_guard<std::mutex> hold(lock_);
    return sum_;
}

std::vector<int32_t> RecordingCallback::Completions() {
    std::lock_guard<std::mutex> hold(lock_);
    return completions_;
}

TWinInetDownloadJob* MakeJob(const std::string& url, const std::wstring& local,
                             TDownloadJobBase::DownloadFileCallback* callback,
                             int64_t expected_size, uint32_t flags,
                             const DownloadTimeouts& timeouts) {
    auto* job = new TWinInetDownloadJob;
    job->SetTimeouts(timeouts);
    job->Setup(Utf8ToWide(url), local, callback, expected_size, flags);
    return job;
}

bool WaitForState(TDownloadJobBase& job, int32_t state, int32_t or_state) {
    const ULONGLONG bound = GetTickCount64() + kHangMs;
    for (;;) {
        const int32_t now = job.GetState();
        if (now == state || now == or_state) return true;
        if (GetTickCount64() >= bound) return false;
        Sleep(1);
    }
}

bool RunUntilDone(CSTDownloadManager& manager) {
    manager.SetRunning(true);
    const bool done = manager.WaitUntilAllDone(nullptr, kHangMs);
    manager.SetRunning(false);
    return done;
}

}  // namespace velm::test
