#include "update/client_updater_win32.h"

#include <algorithm>
#include <cstdlib>

#include "app/config_text_win32.h"
#include "app/process_settings.h"
#include "common/file_io.h"
#include "common/log.h"
#include "common/md5.h"
#include "common/text.h"
#include "formats/pack_file.h"
#include "download/winnet_download_job_win32.h"
#include "services/http_get_win32.h"
#include "update/script_job_win32.h"
#include "update/update_texts.h"

namespace velm {
namespace {

std::wstring ReplaceLogged(const std::wstring& value) {
    const ProcessSettings& settings = Settings();
    if (settings.url_root_original.empty()) return value;
    LauncherLog& log = LauncherLog::Instance();
    log.Write(L"%ls has been changed to :", value.c_str());
    std::wstring out = ReplaceUrlRoot(value, settings.url_root_original, settings.url_root_replacement);
    log.Write(L"%ls\n", out.c_str());
    return out;
}

// In package mode a job asks the package for the entry that holds what the patch server
// serves at the URL (docs/packages.md); the host does not matter to a package.
std::wstring JobSource(const std::wstring& url) {
    return Settings().package_mode ? PackEntryNameForUrl(url) : url;
}

void DestroyJobs(std::vector<TDownloadJobBase*>& jobs) {
    for (TDownloadJobBase* job : jobs) job->Destroy();
    jobs.clear();
}

}  // namespace

TClientUpdater::TClientUpdater() : cache_(std::make_unique<HashCache>(L"")) {
    list_done_.Create(true, false);
    list_failed_.Create(true, false);
    cancel_.Create(true, false);
    error_lock_.Init(L"ErrorList");
    post_process_.Init(this);
}

TClientUpdater::~TClientUpdater() = default;

void TClientUpdater::SetOwner(CDlgBase* owner) {
    callback_ = std::make_unique<TDownloadFileUICallback>();
    callback_->SetSink(owner);
    owner_ = owner;
}

void TClientUpdater::SetBaseDirectory(const std::wstring& base) {
    base_ = base;
    cache_ = std::make_unique<HashCache>(base);
}

void TClientUpdater::SetStatus(const std::wstring& text) {
    LauncherLog::Instance().Write(L"%ls\n", text.c_str());
    if (owner_) owner_->SetStatusText(text);
}

void TClientUpdater::AddError(const std::wstring& line) {
    ScopedLock hold(error_lock_);
    errors_.push_back(line);
}

void TClientUpdater::ClearErrors() {
    ScopedLock hold(error_lock_);
    errors_.clear();
}

std::vector<std::wstring> TClientUpdater::GetErrors() {
    ScopedLock hold(error_lock_);
    return errors_;
}

std::vector<std::wstring> TClientUpdater::UrlRoots() {
    std::lock_guard<std::mutex> hold(state_lock_);
    return url_roots_;
}

std::wstring TClientUpdater::LauncherUrl() {
    std::lock_guard<std::mutex> hold(state_lock_);
    return launcher_url_;
}

int TClientUpdater::LoadLocalHashCache(const std::wstring& path) { return cache_->LoadLocalHashCache(path); }

int TClientUpdater::SaveLocalHashCache(const std::wstring& path) { return cache_->SaveLocalHashCache(path); }

int TClientUpdater::GetLocalFileHash(const std::wstring& name, std::wstring& hash, bool& recompute) {
    return cache_->GetLocalFileHash(name, hash, recompute);
}

int TClientUpdater::UpdateHashCacheEntry(const std::wstring& full_path, const std::wstring& hash) {
    return cache_->UpdateHashCacheEntry(full_path, hash);
}

void TClientUpdater::Cancel() {
    if (manager_) manager_->SetRunning(false);
    {
        std::lock_guard<std::mutex> hold(queue_lock_);
        cancel_.Set();
    }
    if (manager_) manager_->AbortAll();
    aborted_at_ = GetTickCount64();
}

bool TClientUpdater::QueueLateJob(TDownloadJobBase* job) {
    // Without the lock when cancelled: AbortAll reports job ends while it holds the
    // manager's lock, and those reports end up here.
    if (cancel_.Wait(0) == Event::kSignalled) return false;
    std::lock_guard<std::mutex> hold(queue_lock_);
    if (cancel_.Wait(0) == Event::kSignalled) return false;
    ++total_;
    manager_->AddJob(job);
    if (owner_) owner_->SetTotalBytes(owner_->GetTotalBytes() + job->GetTotal());
    return true;
}

void TClientUpdater::WaitForJobs(int32_t& completed, int32_t& failed) {
    constexpr uint64_t kSettleAfterAbortMs = 2000;
    for (;;) {
        completed = completed_.load();
        failed = failed_.load();
        const int32_t total = total_.load();
        if (completed + failed >= total) return;
        const uint64_t aborted_at = aborted_at_.load();
        if (aborted_at && GetTickCount64() - aborted_at >= kSettleAfterAbortMs) {
            const int32_t silent = total - completed - failed;
            LauncherLog::Instance().Write(L"%d job(s) did not report after the cancel; counted failed.\n", silent);
            failed_ += silent;
            continue;
        }
        Sleep(500);
    }
}

TDownloadJobBase* TClientUpdater::MakeJob(const PlannedJob& planned) {
    auto* job = new TWinInetDownloadJob;
    job->SetTimeouts(timeouts_);
    job->Setup(JobSource(planned.url), planned.local_path, callback_.get(), planned.expected_size, planned.flags);
    job->first_text = planned.file_name;
    job->first_counter = planned.patch_group;
    job->second_counter = planned.full_download;
    job->second_text = planned.hash;
    if (planned.full_download) job->Record().expected_md5 = planned.hash;
    return job;
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
    if (job->key == kFileListJobKey) {
        if (success) list_done_.Set();
        else list_failed_.Set();
    }
    std::wstring line;
    if (!success) {
        std::wstring error = job->GetErrorText();
        if (!error.empty()) line = job->Name() + L" : " + error + L"\n";
    }
    post_process_.ProcessFinishedJob(job, success, line);
}

int TClientUpdater::ProcessFileList(const std::wstring& path, std::vector<TDownloadJobBase*>& jobs) {
    entry_total_ = 0;
    entries_examined_ = 0;
    rejected_entries_ = 0;
    post_process_.ResetChains({}, {});
    {
        std::lock_guard<std::mutex> hold(state_lock_);
        url_roots_.clear();
    }
    DestroyJobs(jobs);
    SetStatus(LoadResString(kTextCheckingLocalFiles));

    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes, kMaxFileListBytes)) {
        AddError(FormatText(L"%ls load failed\n line: %d", path.c_str(), 0));
        checking_ = 0;
        return 0;
    }
    const std::string xml(bytes.begin(), bytes.end());
    FileListDocument document;
    std::vector<std::wstring> unsafe;
    std::string reason;
    if (!ParseFileList(xml, base_, document, reason, &unsafe)) {
        LauncherLog::Instance().Write(L"%ls: %ls\n", path.c_str(), Utf8ToWide(reason).c_str());
        const std::string load_error = "XML error at offset ";
        if (reason.compare(0, load_error.size(), load_error) == 0) {
            size_t offset = std::min<size_t>(std::strtoull(reason.c_str() + load_error.size(), nullptr, 10), xml.size());
            int line = 1;
            for (size_t i = 0; i < offset; ++i) line += xml[i] == '\n';
            AddError(FormatText(L"%ls load failed\n line: %d", path.c_str(), line));
            checking_ = 0;
        }
        return 0;
    }
    std::vector<std::wstring> roots;
    for (const std::wstring& root : document.url_roots) roots.push_back(ReplaceLogged(root));
    ReplaceLogged(document.store_url_root);
    {
        std::lock_guard<std::mutex> hold(state_lock_);
        url_roots_ = roots;
    }
    entry_total_ = int32_t(document.entries.size() + unsafe.size());
    for (const std::wstring& name : unsafe) {
        LauncherLog::Instance().Write(L"unsafe file name rejected: %ls\n", name.c_str());
        AddError(name + L" : the file name leaves the installation folder and was rejected\n");
        ++rejected_entries_;
        ++entries_examined_;
    }

    std::vector<PlannedJob> planned;
    std::vector<PatchGroup> groups;
    std::vector<PlannedJob> fallbacks;
    const bool package_mode = Settings().package_mode != 0;
    for (const FileEntry& entry : document.entries) {
        if (cancel_.Wait(0) == Event::kSignalled) {
            cancel_.Reset();
            return 0;
        }
        size_t before = groups.size();
        PlanEntry(entry, roots, *cache_, package_mode, planned, groups);
        if (groups.size() > before) fallbacks.push_back(PlanFullDownload(entry, roots));
        ++entries_examined_;
    }
    post_process_.ResetChains(groups, fallbacks);
    for (const PlannedJob& job : planned) jobs.push_back(MakeJob(job));
    if (document.has_script) {
        auto* script = new TScriptProcessJob;
        script->Setup(L"", base_, callback_.get(), 0, 0);
        script->SetCommands(document.script);
        jobs.push_back(script);
    }
    return 1;
}

bool TClientUpdater::FileListNeeded() {
    if (Settings().package_mode) return true;
    LauncherLog& log = LauncherLog::Instance();
    std::wstring remote;
    if (!GetHttpText(file_list_url_ + L".hash", &remote)) {
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

// 1 when the list is current, 0 when the run ends here (result 1), -1 when it was
// cancelled before the list was requested.
int TClientUpdater::DownloadFileListIfNeeded() {
    bool need = FileListNeeded();
    if (full_check_) need = true;
    if (!need) return 1;
    SetStatus(LoadResString(kTextDownloadingFileList));
    auto* job = new TWinInetDownloadJob;
    job->key = kFileListJobKey;
    job->SetTimeouts(timeouts_);
    job->Setup(JobSource(file_list_url_), kLocalFileListPath, callback_.get(), -1, kJobFlagCompressed);
    if (owner_) owner_->SetTotalBytes(0);
    total_ = 1;
    if (cancel_.Wait(0) == Event::kSignalled) {
        job->Destroy();
        return -1;
    }
    manager_->AddJob(job);
    manager_->SetRunning(true);
    for (;;) {
        if (list_done_.Wait(100) == Event::kSignalled) break;
        if (list_failed_.Wait(100) == Event::kSignalled) {
            AddError(L"FileList corrupted");
            manager_->SetRunning(false);
            SaveLocalHashCache(kHashCachePath);
            return 0;
        }
    }
    return 1;
}

int TClientUpdater::RunUpdate() {
    cancel_.Reset();
    aborted_at_ = 0;
    DeleteJobs();
    // The previous run's chains name jobs that no longer exist; a new job at one of
    // their addresses must not be taken for a fallback.
    post_process_.ResetChains({}, {});
    ClearErrors();
    total_ = 0;
    completed_ = 0;
    failed_ = 0;
    recovered_ = 0;
    CreateDirectoryW(L".\\tmp", nullptr);
    LoadLocalHashCache(kHashCachePath);
    list_done_.Reset();
    list_failed_.Reset();
    SetStatus(LoadResString(kTextConnecting));
    if (full_check_) DeleteFileW(kLocalFileListPath);

    int list = DownloadFileListIfNeeded();
    if (list < 0) return kUpdateFailed;
    if (list == 0) return kUpdateFailed;
    manager_->SetRunning(false);
    DeleteJobs();

    int launcher = CheckLauncherUpdate(kLocalFileListPath);
    if (launcher < 0) {
        AddError(L"Update Launcher failed.");
        SaveLocalHashCache(kHashCachePath);
        return kUpdateFailed;
    }
    if (launcher == 1) {
        DeleteJobs();
        return kUpdateLauncherReplaced;
    }

    DeleteJobs();
    std::vector<TDownloadJobBase*> jobs;
    checking_ = 1;
    if (ProcessFileList(kLocalFileListPath, jobs) != 1) {
        DestroyJobs(jobs);
        AddError(L"Process Filelist failed.");
        checking_ = 0;
        LauncherLog::Instance().Write(L"Process Filelist failed.");
        if (owner_) owner_->SetStatusText(L"Process Filelist failed.");
        SaveLocalHashCache(kHashCachePath);
        return kUpdateFailed;
    }
    checking_ = 0;
    int64_t bytes = 0;
    {
        std::lock_guard<std::mutex> hold(queue_lock_);
        for (TDownloadJobBase* job : jobs) {
            manager_->AddJob(job);
            bytes += job->GetSnapshot().total;
            ++total_;
        }
        // Entries refused for their names count as failed jobs of the run.
        total_ += rejected_entries_;
        failed_ += rejected_entries_;
    }
    if (owner_) owner_->SetTotalBytes(bytes);

    int32_t completed = 0, failed = 0;
    manager_->SetRunning(true);
    WaitForJobs(completed, failed);
    manager_->SetRunning(false);
    SaveLocalHashCache(kHashCachePath);
    LauncherLog::Instance().Write(L"Total %d jobs(s), %d completed, %d failed.\n", total_.load(), completed,
                                  failed);
    return completed + recovered_.load() == total_.load() ? kUpdateSucceeded : kUpdateFailed;
}

}  // namespace velm
