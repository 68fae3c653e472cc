#include "download_fixture_win32.h"

#include <cstdio>
#include <cstdlib>

#include "common/file_io.h"
#include "common/log.h"
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
    timeouts.poll_ms = 100;
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

void RecordingCallback::OnProgress(TDownloadJobBase*, int64_t delta) {
    std::lock_guard<std::mutex> hold(lock_);
    deltas_.push_back(delta);
}

void RecordingCallback::OnTotalKnown(TDownloadJobBase*, int64_t total) {
    std::lock_guard<std::mutex> hold(lock_);
    total_ = total;
}

void RecordingCallback::OnJobComplete(TDownloadJobBase*, int32_t success) {
    std::lock_guard<std::mutex> hold(lock_);
    completions_.push_back(success);
}

std::vector<int64_t> RecordingCallback::Deltas() {
    std::lock_guard<std::mutex> hold(lock_);
    return deltas_;
}

int64_t RecordingCallback::Sum() {
    std::lock_guard<std::mutex> hold(lock_);
    int64_t sum = 0;
    for (int64_t delta : deltas_) sum += delta;
    return sum;
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

bool RunUntilDone(CSTDownloadManager& manager, DWORD timeout_ms) {
    manager.SetRunning(true);
    const DWORD start = GetTickCount();
    bool done = false;
    while (!(done = manager.AreAllJobsDone()) && GetTickCount() - start < timeout_ms) Sleep(20);
    manager.SetRunning(false);
    return done;
}

}  // namespace velm::test
