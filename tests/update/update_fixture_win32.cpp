#include "update_fixture_win32.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "formats/cmp_container.h"
#include "common/file_io.h"
#include "common/log.h"
#include "common/md5.h"
#include "common/text.h"
#include "formats/file_list.h"
#include "update/update_thread_win32.h"

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

std::wstring BinaryDir() { return WinPath(Env("VELM_BINARY_DIR")); }
std::wstring WwwDir() { return BinaryDir() + L"\\update_www"; }
std::wstring ReleasesDir() { return WwwDir() + L"\\releases"; }
std::wstring NginxUrl() { return Utf8ToWide(Env("VELM_NGINX_URL")); }

TestOwner::TestOwner() {
    updater.SetOwner(this);
    updater.SetDownloadManager(&manager);
    DownloadTimeouts timeouts;
    timeouts.request_timeout_ms = 5000;
    timeouts.read_stall_ms = 3000;
    timeouts.retry_pause_ms = 100;
    updater.SetDownloadTimeouts(timeouts);
}

void TestOwner::SetStatusText(const std::wstring& text) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        status_.push_back(text);
    }
    if (on_status) on_status(*this);
}

void TestOwner::AddDoneBytes(int64_t delta) {
    done_bytes += delta;
    if (on_progress) on_progress(*this);
}

void TestOwner::ShowRunMessage(const std::wstring& text, const wchar_t* caption) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        messages_.push_back(text);
    }
    if (message_boxes) MessageBoxW(nullptr, text.c_str(), caption, MB_OK);
}

std::vector<std::wstring> TestOwner::Messages() {
    std::lock_guard<std::mutex> hold(lock_);
    return messages_;
}

void TestOwner::OnRunFinished(int result) {
    std::lock_guard<std::mutex> hold(lock_);
    results_.push_back(result);
}

void TestOwner::SetSelfUpdate(bool on) {
    options.self_update = on;
    updater.SetOptions(options);
}

std::vector<std::wstring> TestOwner::StatusTexts() {
    std::lock_guard<std::mutex> hold(lock_);
    return status_;
}

std::vector<int> TestOwner::Results() {
    std::lock_guard<std::mutex> hold(lock_);
    return results_;
}

int RunUpdateThread(TestOwner& owner) {
    const size_t before = owner.Results().size();
    UpdateThread thread;
    thread.SetRun(&owner.updater, &owner);
    EXPECT_TRUE(thread.Start());
    // A bound only a hung run reaches.
    EXPECT_TRUE(thread.Join(600000));
    std::vector<int> results = owner.Results();
    EXPECT_EQ(results.size(), before + 1);
    if (results.empty()) return -1;
    return results.back();
}

Installation::Installation(const std::string& name, int version) {
    const std::wstring out = BinaryDir() + L"\\update_out";
    CreateDirectoryW(out.c_str(), nullptr);
    path_ = out + L"\\" + Utf8ToWide(name);
    RemoveTree(path_);
    CreateDirectoryW(path_.c_str(), nullptr);
    if (version > 0) CopyTree(ReleasesDir() + L"\\client-v" + std::to_wstring(version), path_);
    GetCurrentDirectoryW(MAX_PATH, previous_);
    SetCurrentDirectoryW(path_.c_str());
}

Installation::~Installation() { SetCurrentDirectoryW(previous_); }

void PointRunAt(TestOwner& owner, const std::wstring& base, const std::wstring& served_base,
                const std::wstring& file_list_url) {
    owner.options.self_update = false;
    owner.options.package_mode = false;
    owner.options.url_root_original = kPublishedBase;
    owner.options.url_root_replacement = NginxUrl() + L"/" + served_base;
    owner.options.file_list_url = file_list_url;
    owner.updater.SetOptions(owner.options);
    owner.updater.SetBaseDirectory(base);
}

void CopyTree(const std::wstring& from, const std::wstring& to) {
    CreateDirectoryW(to.c_str(), nullptr);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((from + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CopyTree(from + L"\\" + name, to + L"\\" + name);
        else
            ASSERT_TRUE(CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), FALSE)) << name;
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring child = path + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(child);
            else DeleteFileW(child.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

static void ListInto(const std::wstring& root, const std::wstring& relative, std::vector<std::wstring>& out) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((root + relative + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ListInto(root, relative + L"\\" + name, out);
        else out.push_back(relative + L"\\" + name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

std::vector<std::wstring> ListFiles(const std::wstring& root) {
    std::vector<std::wstring> out;
    ListInto(root, L"", out);
    return out;
}

std::wstring FileMd5(const std::wstring& path) {
    Md5Digest digest;
    return Md5File(path, digest) ? Md5ToHex(digest) : L"";
}

std::map<std::wstring, std::wstring> Manifest(int version) {
    std::vector<uint8_t> bytes;
    ReadWholeFile(ReleasesDir() + L"\\manifest.json", bytes, 1 << 20);
    std::string text(bytes.begin(), bytes.end());
    std::map<std::wstring, std::wstring> out;
    size_t at = text.find("\"" + std::to_string(version) + "\": {");
    if (at == std::string::npos) return out;
    size_t end = text.find('}', at);
    // One "name": "HASH" pair per line, backslashes doubled.
    for (size_t line = text.find('\n', at) + 1; line < end; line = text.find('\n', line) + 1) {
        size_t q1 = text.find('"', line), q2 = text.find("\": \"", q1 + 1);
        if (q1 == std::string::npos || q2 == std::string::npos || q2 > end) break;
        std::string name = text.substr(q1 + 1, q2 - q1 - 1);
        std::string unescaped;
        for (size_t i = 0; i < name.size(); ++i) {
            if (name[i] == '\\' && i + 1 < name.size()) ++i;
            unescaped += name[i];
        }
        out[Utf8ToWide(unescaped)] = Utf8ToWide(text.substr(q2 + 4, 32));
    }
    return out;
}

namespace {

// The folder must exist before the log file opens in it.
std::wstring UpdateLogPath(const std::string& test) {
    CreateDirectoryW((BinaryDir() + L"\\update_out").c_str(), nullptr);
    return BinaryDir() + L"\\update_out\\" + Utf8ToWide(test) + L".log";
}

}  // namespace

LogCapture::LogCapture(const std::string& test) : CapturedLog(UpdateLogPath(test)) {}

std::vector<uint8_t> ReadServedCmp(const std::wstring& path) {
    std::vector<uint8_t> bytes, out;
    EXPECT_TRUE(ReadWholeFile(path, bytes, uint64_t(1) << 30)) << WideToUtf8(path);
    EXPECT_TRUE(DecodeCmp(bytes.data(), bytes.size(), out, uint64_t(1) << 30)) << WideToUtf8(path);
    return out;
}

void WriteServedCmp(const std::wstring& path, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(WriteCmp(data.data(), data.size(), bytes));
    ASSERT_TRUE(WriteWholeFile(path, bytes.data(), bytes.size())) << WideToUtf8(path);
}

void WriteServedFileList(const std::wstring& folder, const std::string& xml) {
    CreateDirectoryW(folder.c_str(), nullptr);
    WriteServedCmp(folder + L"\\filelist.xml", std::vector<uint8_t>(xml.begin(), xml.end()));
    std::string companion = FileListHashCompanion(xml);
    ASSERT_TRUE(WriteWholeFile(folder + L"\\filelist.xml.hash", companion.data(), companion.size()));
}

}  // namespace velm::test
