#include "update/client_updater_win32.h"

#include "common/file_io.h"
#include "common/log.h"
#include "common/md5.h"
#include "common/text.h"
#include "download/download_job_win32.h"
#include "formats/resume_record.h"
#include "services/http_get_win32.h"
#include "update/file_check_ahead.h"
#include "update/launcher_self_update_win32.h"
#include "update/release_verification_win32.h"
#include "update/script_job_win32.h"
#include "update/update_jobs_win32.h"

namespace velm {
namespace {

constexpr const wchar_t* kProcessFileListFailed = L"Process Filelist failed.";

void DestroyJobs(std::vector<TDownloadJobBase*>& jobs) {
    for (TDownloadJobBase* job : jobs) job->Destroy();
    jobs.clear();
}

}  // namespace

TClientUpdater::TClientUpdater() : cache_(std::make_unique<HashCache>(L"")) {
    cache_->SetCancelFlag(&cancelled_);
    list_done_.Create(true, false);
    list_failed_.Create(true, false);
    cancel_.Create(true, false);
    callback_.SetJobEndHandler([this](TDownloadJobBase* job, int32_t success) { OnJobFinished(job, success); });
    post_process_.Init(this);
}

TClientUpdater::~TClientUpdater() = default;

void TClientUpdater::SetOwner(UpdateRunOwner* owner) {
    owner_ = owner;
    callback_.SetOwner(owner);
}

void TClientUpdater::SetBaseDirectory(const std::wstring& base) {
    base_ = base;
    cache_ = std::make_unique<HashCache>(base);
    cache_->SetCancelFlag(&cancelled_);
}

void TClientUpdater::SetStatus(const std::wstring& text) {
    LauncherLog::Instance().Write(L"%ls\n", text.c_str());
    if (owner_) owner_->SetStatusText(text);
}

std::vector<std::wstring> TClientUpdater::UrlRoots() {
    std::lock_guard<std::mutex> hold(state_lock_);
    return url_roots_;
}

std::wstring TClientUpdater::LauncherUrl() {
    std::lock_guard<std::mutex> hold(state_lock_);
    return launcher_url_;
}

// Only signals: the run's own thread stops the manager and aborts the jobs, so that the
// window that cancels never waits for a job's threads.
void TClientUpdater::Cancel() {
    cancelled_ = true;
    {
        std::lock_guard<std::mutex> hold(queue_lock_);
        cancel_.Set();
    }
    tally_.Wake();
}

void TClientUpdater::AbortJobs() {
    manager_->SetRunning(false);
    manager_->AbortAll();
}

TDownloadJobBase* TClientUpdater::MakeJob(const PlannedJob& planned) {
    return MakeUpdateJob(planned, options_, &callback_, timeouts_);
}

bool TClientUpdater::QueueLateJob(TDownloadJobBase* job) {
    // Without the lock when cancelled: AbortAll reports job ends while it holds the
    // manager's lock, and those reports end up here.
    if (cancel_.Wait(0)) return false;
    std::lock_guard<std::mutex> hold(queue_lock_);
    if (cancel_.Wait(0)) return false;
    ++tally_.total;
    manager_->AddJob(job);
    if (owner_) owner_->SetTotalBytes(owner_->GetTotalBytes() + job->GetTotal());
    return true;
}

bool TClientUpdater::AddJobs(const std::vector<TDownloadJobBase*>& jobs, int64_t& bytes) {
    bytes = 0;
    std::lock_guard<std::mutex> hold(queue_lock_);
    // A cancel that came before this point aborted nothing the manager holds; these jobs
    // would start after the run has ended.
    if (cancel_.Wait(0)) return false;
    for (TDownloadJobBase* job : jobs) {
        manager_->AddJob(job);
        bytes += job->GetSnapshot().total;
        ++tally_.total;
    }
    return true;
}

RunOutcome TClientUpdater::WaitForJobs() {
    bool aborted = false;
    while (!tally_.WaitUntilAllEnded([&] { return !aborted && cancelled_.load(); })) {
        // Every job reports its end once, also an aborted one that never ran, so after
        // this the wait ends when the last abort is counted.
        AbortJobs();
        aborted = true;
    }
    return RunOutcome{tally_.completed.load(), tally_.failed.load()};
}

RunOutcome TClientUpdater::RunManagerUntilJobsEnd() {
    manager_->SetRunning(true);
    const RunOutcome outcome = WaitForJobs();
    manager_->SetRunning(false);
    return outcome;
}

RunOutcome TClientUpdater::RunJobsToEnd(const std::vector<TDownloadJobBase*>& jobs) {
    tally_.total = 0;
    tally_.completed = 0;
    tally_.failed = 0;
    int64_t bytes = 0;
    if (!AddJobs(jobs, bytes)) {
        for (TDownloadJobBase* job : jobs) job->Destroy();
        return RunOutcome{0, int32_t(jobs.size())};
    }
    const RunOutcome outcome = RunManagerUntilJobsEnd();
    DeleteJobs();
    return outcome;
}

void TClientUpdater::DeleteJobs() {
    manager_->DeleteAllJobs();
    std::lock_guard<std::mutex> hold(reported_lock_);
    reported_.clear();
}

void TClientUpdater::OnJobFinished(TDownloadJobBase* job, int32_t success) {
    {
        std::lock_guard<std::mutex> hold(reported_lock_);
        if (!reported_.insert(job).second) {
            LauncherLog::Instance().Write(L"%ls: end reported again (%d), counted once.\n", job->Name().c_str(),
                                          int(success));
            return;
        }
    }
    std::wstring line;
    if (!success) {
        std::wstring error = job->GetErrorText();
        if (!error.empty()) line = job->Name() + L" : " + error + L"\n";
    }
    post_process_.ProcessFinishedJob(job, success, line);
    // After the job's own error line is in the list: the run's line about the list follows it.
    if (job->key == kFileListJobKey) {
        if (success) list_done_.Set();
        else list_failed_.Set();
    }
}

bool TClientUpdater::FileListNeeded() {
    if (options_.package_mode) return true;
    LauncherLog& log = LauncherLog::Instance();
    std::wstring remote;
    // The cancel event ends the request at once: closing the window must not wait for a
    // silent server.
    HttpGetControl control;
    control.cancel = cancel_.Handle();
    if (!GetHttpText(options_.file_list_url + L".hash", &remote, control)) {
        log.Write(L"Hash of Hash not found.");
        return true;
    }
    Md5Digest digest;
    if (!Md5File(kLocalFileListPath, digest)) return true;
    const std::wstring local = Md5ToHex(digest);
    log.Write(L"\nHash of Remote FileList: %ls\n", remote.c_str());
    log.Write(L"\nHash of Local FileList:  %ls\n", local.c_str());
    return !HashTextEquals(remote, local);
}

TClientUpdater::ListFetch TClientUpdater::DownloadFileListIfNeeded() {
    const bool need = FileListNeeded() || full_check_;
    if (!need) return ListFetch::kCurrent;
    SetStatus(options_.texts.downloading_file_list);
    TDownloadJobBase* job = MakeFileListJob(kLocalFileListPath, options_, &callback_, timeouts_);
    job->key = kFileListJobKey;
    if (owner_) owner_->SetTotalBytes(0);
    tally_.total = 1;
    if (cancel_.Wait(0)) {
        job->Destroy();
        return ListFetch::kCancelled;
    }
    manager_->AddJob(job);
    manager_->SetRunning(true);
    const HANDLE ends[] = {list_done_.Handle(), list_failed_.Handle(), cancel_.Handle()};
    switch (WaitForMultipleObjects(3, ends, FALSE, INFINITE)) {
    case WAIT_OBJECT_0:
        return ListFetch::kCurrent;
    case WAIT_OBJECT_0 + 1:
        tally_.AddError(L"FileList corrupted");
        manager_->SetRunning(false);
        return ListFetch::kFailed;
    default:
        AbortJobs();
        return ListFetch::kCancelled;
    }
}

bool TClientUpdater::CheckLauncher(const LoadedFileList& list, int& result) {
    if (!options_.self_update) return true;
    if (!list.document.has_launcher) {
        result = FailRun(L"Update Launcher failed.");
        return false;
    }
    {
        std::lock_guard<std::mutex> hold(state_lock_);
        launcher_url_ = list.document.launcher.url;
    }
    const std::wstring running = launcher_path_.empty() ? RunningModulePath() : launcher_path_;
    switch (LauncherSelfUpdate(*this).Run(list.document.launcher, running)) {
    case SelfUpdateOutcome::kCurrent:
    case SelfUpdateOutcome::kRefused:
        return true;
    case SelfUpdateOutcome::kReplacing:
        DeleteJobs();
        result = kUpdateLauncherReplaced;
        return false;
    case SelfUpdateOutcome::kFailed:
        break;
    }
    result = FailRun(L"Update Launcher failed.");
    return false;
}

int TClientUpdater::PlanFileJobs(const LoadedFileList& list, std::vector<TDownloadJobBase*>& jobs) {
    std::vector<std::wstring> roots;
    for (const std::wstring& root : list.document.url_roots) roots.push_back(ApplyUrlRootReplacement(root, options_));
    ApplyUrlRootReplacement(list.document.store_url_root, options_);
    {
        std::lock_guard<std::mutex> hold(state_lock_);
        url_roots_ = roots;
    }
    tally_.entry_total = int32_t(list.document.entries.size() + list.rejected.size());
    for (const RejectedEntry& entry : list.rejected) {
        LauncherLog& log = LauncherLog::Instance();
        const wchar_t* name = entry.name.c_str();
        switch (entry.why) {
        case EntryRejection::kUnsafeName:
            log.Write(L"unsafe file name rejected: %ls\n", name);
            tally_.AddError(entry.name + L" : the file name leaves the installation folder and was rejected\n");
            break;
        case EntryRejection::kCaseCollision:
            log.Write(L"file name differing from another only in letter case rejected: %ls\n", name);
            tally_.AddError(entry.name + L" : the file name differs from another only in letter case and was "
                                         L"rejected\n");
            break;
        case EntryRejection::kMissingUrlRoot:
            log.Write(L"entry needing more URL roots than the list carries rejected: %ls\n", name);
            tally_.AddError(entry.name + L" : the file list carries no URL root for its history; the entry was "
                                         L"rejected\n");
            break;
        }
        ++tally_.entries_examined;
    }

    std::vector<PlannedJob> planned;
    std::vector<PatchGroup> groups;
    std::vector<PlannedJob> fallbacks;
    const std::vector<FileEntry>& entries = list.document.entries;
    FileCheckAhead checks(entries, *cache_, options_.package_mode);
    for (size_t i = 0; i < entries.size(); ++i) {
        const FileEntry& entry = entries[i];
        if (cancel_.Wait(0)) return 0;
        const size_t before = groups.size();
        PlanCheckedEntry(entry, checks.Take(i), roots, *cache_, planned, groups);
        if (groups.size() > before) fallbacks.push_back(PlanFullDownload(entry, roots));
        ++tally_.entries_examined;
    }
    post_process_.ResetChains(groups, fallbacks);
    for (const PlannedJob& job : planned) jobs.push_back(MakeJob(job));
    if (list.document.has_script) {
        auto* script = new TScriptProcessJob;
        script->Setup(L"", base_, &callback_, 0, 0);
        script->SetCommands(list.document.script);
        jobs.push_back(script);
    }
    return 1;
}

int TClientUpdater::FailRun(const std::wstring& error_line) {
    tally_.AddError(error_line);
    cache_->SaveLocalHashCache(kHashCachePath);
    return kUpdateFailed;
}

int TClientUpdater::RunUpdate() {
    cancelled_ = false;
    cancel_.Reset();
    DeleteJobs();
    // The previous run's chains name jobs that no longer exist; a new job at one of
    // their addresses must not be taken for a fallback.
    post_process_.ResetChains({}, {});
    tally_.Reset();
    {
        std::lock_guard<std::mutex> hold(state_lock_);
        url_roots_.clear();
    }
    CreateDirectoryW(L".\\tmp", nullptr);
    manager_->SetMaxBytesPerSecond(options_.max_bytes_per_second);
    cache_->LoadLocalHashCache(kHashCachePath);
    list_done_.Reset();
    list_failed_.Reset();
    SetStatus(options_.texts.connecting);
    if (full_check_) DeleteFileW(kLocalFileListPath);

    switch (DownloadFileListIfNeeded()) {
    case ListFetch::kCurrent:
        break;
    case ListFetch::kFailed:
        cache_->SaveLocalHashCache(kHashCachePath);
        return kUpdateFailed;
    case ListFetch::kCancelled:
        return kUpdateFailed;
    }
    manager_->SetRunning(false);
    DeleteJobs();

    // The bytes that are verified are the ones parsed: nothing reads the list file again.
    std::string list_bytes;
    const bool read = ReadFileListBytes(kLocalFileListPath, list_bytes);
    ReleaseVerification verification(*this);
    if (read && !verification.CheckSignature(list_bytes)) return kUpdateFailed;
    LoadedFileList list;
    FileListLoadError load_error;
    const bool loaded = LoadFileList(kLocalFileListPath, read ? &list_bytes : nullptr, base_, list, load_error) == 1;
    if (loaded && !verification.Accept(list.document)) return kUpdateFailed;
    // A list that is not even XML names no launcher either.
    if (!loaded && options_.self_update && !load_error.error_line.empty()) return FailRun(L"Update Launcher failed.");
    if (loaded) {
        int result = kUpdateFailed;
        if (!CheckLauncher(list, result)) return result;
    }

    DeleteJobs();
    std::vector<TDownloadJobBase*> jobs;
    tally_.checking = 1;
    SetStatus(options_.texts.checking_local_files);
    if (!loaded) {
        if (!load_error.reason.empty())
            LauncherLog::Instance().Write(L"%ls: %ls\n", kLocalFileListPath, load_error.reason.c_str());
        if (!load_error.error_line.empty()) tally_.AddError(load_error.error_line);
    }
    int64_t bytes = 0;
    if (!loaded || PlanFileJobs(list, jobs) != 1 || !AddJobs(jobs, bytes)) {
        DestroyJobs(jobs);
        tally_.checking = 0;
        LauncherLog::Instance().Write(kProcessFileListFailed);
        if (owner_) owner_->SetStatusText(kProcessFileListFailed);
        return FailRun(kProcessFileListFailed);
    }
    tally_.checking = 0;
    // Entries the list could not be trusted with count as failed jobs of the run.
    const int32_t rejected = int32_t(list.rejected.size());
    tally_.total += rejected;
    tally_.AddFailed(rejected);
    if (owner_) owner_->SetTotalBytes(bytes);

    const RunOutcome outcome = RunManagerUntilJobsEnd();
    post_process_.SweepChainFiles();
    cache_->SaveLocalHashCache(kHashCachePath);
    // A job whose file a fallback download brought to the release did its part: it is
    // counted with the completed ones, so that the line agrees with the run's result.
    const int32_t recovered = tally_.recovered.load();
    LauncherLog& log = LauncherLog::Instance();
    if (recovered > 0) log.Write(L"%d failed job(s) recovered by a full download of their file.\n", recovered);
    log.Write(L"Total %d jobs(s), %d completed, %d failed.\n", tally_.total.load(), outcome.completed + recovered,
              outcome.failed - recovered);
    if (outcome.completed + recovered != tally_.total.load()) return kUpdateFailed;
    SweepTransferLeftovers(list.document);
    return kUpdateSucceeded;
}

// A cancelled or failed run keeps its partial transfers for the next run to resume. Once
// a run has brought every file of the list to the release, none of them is needed: the
// transfer and resume files of every listed name go, and only those.
void TClientUpdater::SweepTransferLeftovers(const FileListDocument& document) {
    for (const FileEntry& entry : document.entries) {
        for (const wchar_t* transfer : {kPlainStagingSuffix, L".cmp"}) {
            const std::wstring path = entry.full_path + transfer;
            DeleteFileW((path + kResumeRecordSuffix).c_str());
            DeleteFileW(path.c_str());
        }
    }
}

}  // namespace velm
