#pragma once
// TClientUpdater: one update run at a time and the state it works on. The run decides
// whether the file list must be fetched, lets the launcher replace itself, plans one job
// per changed file or diff step, hands the jobs to the job manager and waits until every
// job has been accounted for; finished jobs come back through OnJobFinished on download
// threads, where diff chains are applied and downloads verified.
//
// Ownership: the window that owns the updater also owns the job manager and outlives
// every run; the updater owns the download callback and the jobs it creates until the
// manager's DeleteAllJobs. RunUpdate runs on UpdateThread; Cancel, the error list getter
// and the counters may be used from the window's thread at any time.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "download/dlg_base_win32.h"
#include "download/download_manager_win32.h"
#include "download/download_timeouts.h"
#include "common/sync_win32.h"
#include "download/ui_callback_win32.h"
#include "formats/file_list.h"
#include "formats/hash_cache.h"
#include "update/post_download_win32.h"
#include "update/update_planning.h"

namespace velm {

inline constexpr const wchar_t* kLocalFileListPath = L"tmp\\FileList.xml";
inline constexpr const wchar_t* kHashCachePath = L"LocalHashCache.xml";
inline constexpr const wchar_t* kFileListJobKey = L"FileListJob";

enum UpdateResult : int { kUpdateSucceeded = 0, kUpdateFailed = 1, kUpdateLauncherReplaced = 3 };

class TClientUpdater : public TJobFinishedHandler {
public:
    TClientUpdater();
    virtual ~TClientUpdater();
    TClientUpdater(const TClientUpdater&) = delete;
    TClientUpdater& operator=(const TClientUpdater&) = delete;

    // Set by the owning window before the first run.
    void SetOwner(CDlgBase* owner);
    void SetDownloadManager(CSTDownloadManager* manager) { manager_ = manager; }
    // The installation folder without a trailing backslash; names from the list are
    // appended to it.
    void SetBaseDirectory(const std::wstring& base);
    // The -FILELISTURL value when given, else the built-in file list URL.
    void SetFileListUrl(const std::wstring& url) { file_list_url_ = url; }
    void SetFullCheck(bool on) { full_check_ = on ? 1 : 0; }
    // The executable the replacement script swaps; the running module unless set.
    void SetLauncherPath(const std::wstring& path) { launcher_path_ = path; }
    // Tests shorten the time limits of the jobs; the product keeps the defaults.
    void SetDownloadTimeouts(const DownloadTimeouts& timeouts) { timeouts_ = timeouts; }

    // One whole run; returns an UpdateResult. Runs on UpdateThread.
    int RunUpdate();
    // From the owning window: stops scheduling, signals the run and aborts every job.
    void Cancel();

    // 1 when the document was read and every entry planned (jobs appended), 0 otherwise.
    int ProcessFileList(const std::wstring& path, std::vector<TDownloadJobBase*>& jobs);
    // 0 nothing to do, 1 the replacement script was started, -1 failure.
    int CheckLauncherUpdate(const std::wstring& path);

    int LoadLocalHashCache(const std::wstring& path);
    int SaveLocalHashCache(const std::wstring& path);
    int GetLocalFileHash(const std::wstring& name, std::wstring& hash, bool& recompute);
    int UpdateHashCacheEntry(const std::wstring& full_path, const std::wstring& hash);

    void AddError(const std::wstring& line);
    void ClearErrors();
    std::vector<std::wstring> GetErrors();

    // Waits until completed + failed reaches total, in 500 ms sleeps. After a cancel,
    // jobs that still have not reported 2 s after every job was aborted are counted
    // failed: a job stopped before its threads began never reports its end.
    void WaitForJobs(int32_t& completed, int32_t& failed);

    // Called on download-engine threads for every job end.
    void OnJobFinished(TDownloadJobBase* job, int32_t success) override;

    // Read by the windows while a run goes on.
    int32_t Total() const { return total_.load(); }
    int32_t Completed() const { return completed_.load(); }
    int32_t Failed() const { return failed_.load(); }
    int32_t EntryTotal() const { return entry_total_.load(); }
    int32_t EntriesExamined() const { return entries_examined_.load(); }
    bool IsChecking() const { return checking_.load() != 0; }
    std::vector<std::wstring> UrlRoots();
    std::wstring LauncherUrl();
    const std::wstring& BaseDirectory() const { return base_; }

private:
    friend class TPostDownloadProcessThread;

    int DownloadFileListIfNeeded();
    bool FileListNeeded();
    TDownloadJobBase* MakeJob(const PlannedJob& planned);
    void SetStatus(const std::wstring& text);
    // Adds a job while the run's jobs are being processed (the full download that
    // replaces a failed diff chain). False once the run is cancelled: the job is then not
    // the manager's and the caller deletes it.
    bool QueueLateJob(TDownloadJobBase* job);
    // The manager's DeleteAllJobs, and the run forgets which jobs have reported.
    void DeleteJobs();

    std::unique_ptr<TDownloadFileUICallback> callback_;
    CSTDownloadManager* manager_ = nullptr;
    CDlgBase* owner_ = nullptr;
    Event list_done_;
    Event list_failed_;
    Event cancel_;
    std::wstring base_;
    std::unique_ptr<HashCache> cache_;
    std::wstring file_list_url_;
    std::wstring launcher_path_;
    DownloadTimeouts timeouts_;
    int32_t full_check_ = 0;
    std::mutex queue_lock_;  // orders late jobs against Cancel
    std::atomic<uint64_t> aborted_at_{0};  // tick count when Cancel's AbortAll returned

    std::mutex state_lock_;  // URL roots and the launcher URL, read by the windows
    std::vector<std::wstring> url_roots_;
    std::wstring launcher_url_;

    std::atomic<int32_t> total_{0};
    std::atomic<int32_t> completed_{0};
    std::atomic<int32_t> failed_{0};
    // Failed jobs whose file a fallback download brought to the release after all.
    std::atomic<int32_t> recovered_{0};
    std::atomic<int32_t> entry_total_{0};
    std::atomic<int32_t> entries_examined_{0};
    std::atomic<int32_t> checking_{0};
    // Entries left out because their names could leave the installation folder.
    int32_t rejected_entries_ = 0;

    // Jobs whose end has been counted: aborting a job that has already ended reports
    // it again, and the run counts every job once.
    std::mutex reported_lock_;
    std::set<TDownloadJobBase*> reported_;

    CriticalSection error_lock_;
    std::vector<std::wstring> errors_;

    TPostDownloadProcessThread post_process_;
};

}  // namespace velm
