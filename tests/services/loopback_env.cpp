#include "services/loopback_env.h"

#include <cstdlib>

#include "common/file_io.h"
#include "common/log.h"
#include "common/text.h"

namespace velm::test {
namespace {

// The value of "key": "..." in one JSON line; the recorded fields used here hold no
// escaped quotes.
std::string JsonField(const std::string& line, const std::string& key) {
    std::string marker = "\"" + key + "\": \"";
    size_t start = line.find(marker);
    if (start == std::string::npos) return std::string();
    start += marker.size();
    size_t end = line.find('"', start);
    return end == std::string::npos ? std::string() : line.substr(start, end - start);
}

}  // namespace

std::wstring Env(const wchar_t* name) {
    const wchar_t* value = _wgetenv(name);
    return value ? value : L"";
}

std::wstring WinePath(const std::wstring& host_path) {
    std::wstring path = L"Z:" + host_path;
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
    return path;
}

std::vector<RecordedRequest> RecordedRequests() {
    std::vector<uint8_t> bytes;
    std::vector<RecordedRequest> requests;
    if (!ReadWholeFile(Env(L"VELM_RECORD_LOG_WIN"), bytes, 64u << 20)) return requests;
    std::string text(bytes.begin(), bytes.end());
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty()) {
            requests.push_back({JsonField(line, "method"), JsonField(line, "path"),
                                JsonField(line, "Content-Type"), JsonField(line, "body_hex")});
        }
        start = end + 1;
    }
    return requests;
}

int FaultRequestCount(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(Env(L"VELM_FAULT_LOG_WIN"), bytes, 64u << 20)) return 0;
    std::string text(bytes.begin(), bytes.end());
    std::string marker = "\"path\": \"" + path + "\"";
    int count = 0;
    for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) {
        ++count;
    }
    return count;
}

std::string Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    return hex;
}

std::wstring TemporaryPath(const wchar_t* stem) {
    wchar_t folder[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, folder);
    static int count = 0;
    return FormatText(L"%ls%ls-%lu-%d", folder, stem, GetCurrentProcessId(), ++count);
}

LogCapture::LogCapture() {
    path_ = TemporaryPath(L"velm-requests") + L".log";
    LauncherLog::Instance().ReopenForTest(path_);
}

LogCapture::~LogCapture() {
    LauncherLog::Instance().ReopenForTest(L"NUL");
    RemoveFile(path_);
}

std::wstring LogCapture::Text() const {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path_, bytes, 16u << 20) || bytes.size() < 2) return L"";
    return Utf16LeToWide(bytes.data() + 2, bytes.size() - 2);
}

bool WaitFor(const std::function<bool()>& condition) {
    const ULONGLONG deadline = GetTickCount64() + 60000;
    while (!condition()) {
        if (GetTickCount64() >= deadline) return false;
        Sleep(20);
    }
    return true;
}

}  // namespace velm::test
