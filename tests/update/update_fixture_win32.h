#pragma once
// Shared pieces of the update-run tests under Wine: an owner window stand-in that
// records what the run tells it, installation folders made from the published client
// versions, and the three-release fixture served by nginx on loopback.
#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/captured_log.h"
#include "download/download_manager_win32.h"
#include "update/client_updater_win32.h"
#include "update/update_options.h"
#include "update/update_run_owner_win32.h"

namespace velm::test {

std::string Env(const char* name);
// "Z:" + the Unix path with backslashes: how Wine reaches a Unix file.
std::wstring WinPath(const std::string& unix_path);
std::wstring BinaryDir();
// Where nginx serves from (the releases are in its "releases" folder).
std::wstring WwwDir();
std::wstring ReleasesDir();
std::wstring NginxUrl();
// The address the releases were published for; runs rewrite it to nginx.
inline constexpr const wchar_t* kPublishedBase = L"http://127.0.0.1:1/releases/patch";

// The owning window's part of a run: counts what it is told and records the results it
// gets; its messages are real message boxes, as the windows' are.
class TestOwner : public UpdateRunOwner {
public:
    TestOwner();
    void SetStatusText(const std::wstring& text) override;
    void AddDoneBytes(int64_t delta) override;
    int64_t GetTotalBytes() override { return total_bytes.load(); }
    void SetTotalBytes(int64_t total) override { total_bytes = total; }
    void ShowRunMessage(const std::wstring& text, const wchar_t* caption) override;
    void OnRunFinished(int result) override;

    std::vector<std::wstring> StatusTexts();
    std::vector<int> Results();
    // The texts the run asked to show, whether or not a box was shown for them.
    std::vector<std::wstring> Messages();
    void SetSelfUpdate(bool on);

    CSTDownloadManager manager;
    TClientUpdater updater;
    UpdateOptions options;
    // Real message boxes (which a test must answer), or only the record of their texts.
    bool message_boxes = true;
    std::atomic<int64_t> done_bytes{0};
    std::atomic<int64_t> total_bytes{0};
    // Runs inside SetStatusText, on the update thread.
    std::function<void(TestOwner&)> on_status;
    // Runs inside AddDoneBytes, on a download thread.
    std::function<void(TestOwner&)> on_progress;

private:
    std::mutex lock_;
    std::vector<std::wstring> status_;
    std::vector<int> results_;
    std::vector<std::wstring> messages_;
};

// One run on its own UpdateThread, as the window starts it; the result is what the
// owner receives when the run has ended (-1 when it received none).
int RunUpdateThread(TestOwner& owner);

// A fresh installation folder (the current folder while it lives) holding a copy of a
// published client version, or nothing for version 0.
class Installation {
public:
    Installation(const std::string& name, int version);
    ~Installation();
    const std::wstring& Path() const { return path_; }
    std::wstring File(const std::wstring& relative) const { return path_ + relative; }

private:
    std::wstring path_;
    wchar_t previous_[MAX_PATH];
};

// Points a run at nginx: the published roots rewritten to served_base (a folder under
// the nginx root, "releases/patch" for the untouched releases), self-update off.
void PointRunAt(TestOwner& owner, const std::wstring& base, const std::wstring& served_base,
                const std::wstring& file_list_url);

void CopyTree(const std::wstring& from, const std::wstring& to);
void RemoveTree(const std::wstring& path);
std::vector<std::wstring> ListFiles(const std::wstring& root);  // relative, "\\..." form
std::wstring FileMd5(const std::wstring& path);
// Name -> MD5 of one published version, from manifest.json.
std::map<std::wstring, std::wstring> Manifest(int version);

// The launcher log of this process, sent to a fresh file per test.
class LogCapture : public CapturedLog {
public:
    explicit LogCapture(const std::string& test);
};

// Decoded bytes of a served ".cmp" object, and re-encoding after a change.
std::vector<uint8_t> ReadServedCmp(const std::wstring& path);
void WriteServedCmp(const std::wstring& path, const std::vector<uint8_t>& data);
// A served file list and its companion.
void WriteServedFileList(const std::wstring& folder, const std::string& xml);

}  // namespace velm::test
