#pragma once
// TClientUpdater: one update run at a time and the state it works on. The run decides
// whether the file list must be fetched, reads it once, lets the launcher replace itself,
// plans one job per changed file or diff step, hands the jobs to the job manager and waits
// until every job has been accounted for; finished jobs come back through the run's job
// callback on download threads, where diff chains are applied and downloads verified.
//
// Ownership: the window that owns the updater also owns the job manager and outlives
// every run; the updater owns the download callback and the jobs it creates until the
// manager's DeleteAllJobs. RunUpdate runs on UpdateThread; Cancel, Errors and the tally
// may be used from the window's thread at any time.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "common/sync_win32.h"
#include "download/download_manager_win32.h"
#include "download/download_timeouts.h"
#include "formats/hash_cache.h"
#include "update/file_list_load.h"
#include "update/post_download_win32.h"
#include "update/run_job_callback_win32.h"
#include "update/run_tally.h"
#include "update/update_options.h"
#include "update/update_planning.h"
#include "update/update_run_owner_win32.h"

namespace velm {

inline constexpr const wchar_t* kLocalFileListPath = L"tmp\\FileList.xml";
inline constexpr const wchar_t* kHashCachePath = L"LocalHashCache.xml";
inline constexpr const wchar_t* kFileListJobKey = L"FileListJob";

enum UpdateResult : int { kUpdateSucceeded = 0, kUpdateFailed = 1, kUpdateLauncherReplaced = 3 };

struct RunOutcome {
    int32_t completed = 0;
    int32_t failed = 0;
};

class TClientUpdater {
public:
    TClientUpdater();
    ~TClientUpdater();
    TClientUpdater(const TClientUpdater&) = delete;
    TClientUpdater& operator=(const TClientUpdater&) = delete;

    // Set by the owning window before the first run.
    void SetOwner(UpdateRunOwner* owner);
    void SetDownloadManager(CSTDownloadManager* manager) { manager_ = manager; }
    void SetOptions(const UpdateOptions& options) { options_ = options; }
    // The installation folder without a trailing backslash; names from the list are
    // appended to it.
    void SetBaseDirectory(const std::wstring& base);
    void SetFullCheck(bool on) { full_check_ = on; }
    // The executable the replacement script swaps; the running module unless set.
    void SetLauncherPath(const std::wstring& path) { launcher_path_ = path; }
    // Tests shorten the time limits of the jobs; the product keeps the defaults.
    void SetDownloadTimeouts(const DownloadTimeouts& timeouts) { timeouts_ = timeouts; }

    // One whole run; returns an UpdateResult. Runs on UpdateThread.
    int RunUpdate();
    // From the owning window: signals the run and returns at once; the run stops
    // scheduling, aborts every job and ends by itself.
    void Cancel();

    // Read by the windows while a run goes on.
    std::vector<std::wstring> GetErrors() { return tally_.Errors(); }
    int32_t Total() const { return tally_.total.load(); }
    int32_t Completed() const { return tally_.completed.load(); }
    int32_t Failed() const { return tally_.failed.load(); }
    int32_t EntryTotal() const { return tally_.entry_total.load(); }
    int32_t EntriesExamined() const { return tally_.entries_examined.load(); }
    bool IsChecking() const { return tally_.checking.load() != 0; }
    std::vector<std::wstring> UrlRoots();
    std::wstring LauncherUrl();

    // For the parts of a run (the self-update, the handling of job ends).
    const UpdateOptions& Options() const { return options_; }
    const DownloadTimeouts& Timeouts() const { return timeouts_; }
    const std::wstring& BaseDirectory() const { return base_; }
    UpdateRunOwner* Owner() const { return owner_; }
    RunJobCallback* JobCallback() { return &callback_; }
    HashCache& Cache() { return *cache_; }
    RunTally& Tally() { return tally_; }
    TDownloadJobBase* MakeJob(const PlannedJob& planned);
    // Adds a job while the run's jobs are being processed (the full download that
    // replaces a failed diff chain). False once the run is cancelled: the job is then not
    // the manager's and the caller deletes it.
    bool QueueLateJob(TDownloadJobBase* job);
    // The run's add/run/wait cycle for jobs that are all the run has at the moment (the
    // new launcher): counts them, runs the manager until each has reported, then deletes
    // them.
    RunOutcome RunJobsToEnd(const std::vector<TDownloadJobBase*>& jobs);

private:
    // Called on download-engine threads for every job end.
    void OnJobFinished(TDownloadJobBase* job, int32_t success);
    void SetStatus(const std::wstring& text);
    bool FileListNeeded();
    enum class ListFetch { kCurrent, kFailed, kCancelled };
    ListFetch DownloadFileListIfNeeded();
    // True when the run goes on to the file jobs; false with the run's UpdateResult in
    // result when it ends here.
    bool CheckLauncher(const LoadedFileList& list, int& result);
    // 1 when every entry was planned (jobs appended), 0 when the check was cancelled.
    int PlanFileJobs(const LoadedFileList& list, std::vector<TDownloadJobBase*>& jobs);
    // Adds jobs to the manager and to the tally, under the lock that orders them against
    // Cancel, and sums their sizes. False, with nothing added, once the run is cancelled:
    // the caller still owns the jobs then.
    bool AddJobs(const std::vector<TDownloadJobBase*>& jobs, int64_t& bytes);
    // Waits until every job of the tally has reported its end; a cancel meanwhile aborts
    // them all, and the wait goes on until each abort has been counted.
    RunOutcome WaitForJobs();
    // On the run's thread: no job starts any more, and every job ends.
    void AbortJobs();
    RunOutcome RunManagerUntilJobsEnd();
    // The manager's DeleteAllJobs, and the run forgets which jobs have reported.
    void DeleteJobs();
    void SweepTransferLeftovers(const FileListDocument& document);
    int FailRun(const std::wstring& error_line);

    RunJobCallback callback_;
    CSTDownloadManager* manager_ = nullptr;
    UpdateRunOwner* owner_ = nullptr;
    UpdateOptions options_;
    Event list_done_;
    Event list_failed_;
    Event cancel_;
    std::wstring base_;
    std::unique_ptr<HashCache> cache_;
    std::wstring launcher_path_;
    DownloadTimeouts timeouts_;
    // Set on the window's thread, read on the run's.
    std::atomic<bool> full_check_{false};
    std::mutex queue_lock_;  // orders late jobs against Cancel
    // Set by Cancel: the hashing of the file check gives up at its next MiB.
    std::atomic<bool> cancelled_{false};

    std::mutex state_lock_;  // URL roots and the launcher URL, read by the windows
    std::vector<std::wstring> url_roots_;
    std::wstring launcher_url_;

    RunTally tally_;

    // Jobs whose end has been counted: aborting a job that has already ended reports
    // it again, and the run counts every job once.
    std::mutex reported_lock_;
    std::set<TDownloadJobBase*> reported_;

    TPostDownloadProcessThread post_process_;
};

}  // namespace velm
