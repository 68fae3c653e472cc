#include "download/download_manager_win32.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "common/log.h"
#include "common/text.h"

namespace velm {
namespace {

std::atomic<int32_t> g_next_job_id{0};

bool IsActive(int32_t state) { return state == kJobRunning || state == kJobUnpacking; }

}  // namespace

CSTDownloadManager::CSTDownloadManager()
    : wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      all_done_(CreateEventW(nullptr, TRUE, TRUE, nullptr)),
      thread_(*this) {
    lock_.Init(L"CSTDownloadManager");
}

CSTDownloadManager::~CSTDownloadManager() { SetRunning(false); }

Thread::Step CSTDownloadManager::TJobManagmantThread::Run() {
    manager_.Schedule();
    HANDLE handles[2] = {manager_.wake_.Get(), StopEvent()};
    WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    return Step::kAgain;
}

void CSTDownloadManager::AddJob(TDownloadJobBase* job) {
    if (!job) return;
    {
        ScopedLock hold(lock_);
        job->manager_ = this;
        job->job_id_ = g_next_job_id++;
        jobs_.push_back(job);
        UpdateAllDoneLocked();
    }
    SetEvent(wake_.Get());
}

void CSTDownloadManager::RemoveJob(TDownloadJobBase* job) {
    ScopedLock hold(lock_);
    LauncherLog::Instance().Write(L"remove job %d\n", int(reinterpret_cast<intptr_t>(job)));
    auto it = std::find(jobs_.begin(), jobs_.end(), job);
    if (it != jobs_.end()) jobs_.erase(it);
    UpdateAllDoneLocked();
}

std::vector<TDownloadJobBase*> CSTDownloadManager::JobsWithKey(const std::wstring* key) {
    ScopedLock hold(lock_);
    if (!key) return jobs_;
    for (TDownloadJobBase* job : jobs_)
        if (job->key == *key) return {job};
    return {};
}

void CSTDownloadManager::AbortJob(const std::wstring& key) {
    std::shared_lock<std::shared_mutex> in_use(jobs_in_use_);
    LauncherLog::Instance().Write(L"abort job: %ls\n", key.c_str());
    for (TDownloadJobBase* job : JobsWithKey(&key)) job->Abort();
}

void CSTDownloadManager::AbortAll() {
    std::shared_lock<std::shared_mutex> in_use(jobs_in_use_);
    LauncherLog& log = LauncherLog::Instance();
    log.Write(L"abort all start\n");
    for (TDownloadJobBase* job : JobsWithKey(nullptr)) job->Abort();
    log.Write(L"abort all end\n");
}

void CSTDownloadManager::DeleteAllJobs() {
    std::unique_lock<std::shared_mutex> in_use(jobs_in_use_);
    std::vector<TDownloadJobBase*> jobs;
    {
        ScopedLock hold(lock_);
        jobs.swap(jobs_);
        UpdateAllDoneLocked();
    }
    for (TDownloadJobBase* job : jobs) job->Destroy();
}

bool CSTDownloadManager::AreAllJobsDone() {
    ScopedLock hold(lock_);
    return std::all_of(jobs_.begin(), jobs_.end(),
                       [](TDownloadJobBase* job) { return job->GetState() == kJobDone; });
}

void CSTDownloadManager::UpdateAllDoneLocked() {
    const bool done = std::all_of(jobs_.begin(), jobs_.end(),
                                  [](TDownloadJobBase* job) { return job->GetState() == kJobDone; });
    if (done) SetEvent(all_done_.Get());
    else ResetEvent(all_done_.Get());
}

void CSTDownloadManager::OnJobDone() {
    {
        ScopedLock hold(lock_);
        UpdateAllDoneLocked();
    }
    SetEvent(wake_.Get());
}

bool CSTDownloadManager::WaitUntilAllDone(HANDLE cancel, DWORD timeout_ms) {
    HANDLE handles[2] = {all_done_.Get(), cancel};
    return WaitForMultipleObjects(cancel ? 2 : 1, handles, FALSE, timeout_ms) == WAIT_OBJECT_0;
}

int CSTDownloadManager::CountActiveJobs() {
    ScopedLock hold(lock_);
    return int(std::count_if(jobs_.begin(), jobs_.end(),
                             [](TDownloadJobBase* job) { return IsActive(job->GetState()); }));
}

bool CSTDownloadManager::FindUnfinishedJob(JobSnapshot& snapshot) {
    ScopedLock hold(lock_);
    for (TDownloadJobBase* job : jobs_) {
        JobSnapshot current = job->GetSnapshot();
        if (current.state != kJobDone) {
            snapshot = current;
            return true;
        }
    }
    return false;
}

void CSTDownloadManager::GetJobSnapshots(std::vector<JobSnapshot>& snapshots) {
    ScopedLock hold(lock_);
    snapshots.clear();
    for (TDownloadJobBase* job : jobs_) snapshots.push_back(job->GetSnapshot());
}

// A pass only picks jobs and starts their threads, so waiting for the thread's end is
// short.
void CSTDownloadManager::SetRunning(bool on) {
    if (on) {
        thread_.Start();
    } else {
        thread_.RequestStop();
        thread_.Join(INFINITE);
    }
}

int CSTDownloadManager::AddUpdatePackage(const std::wstring& host_path, int64_t base_offset) {
    auto pack = std::make_unique<PackFile>();
    pack->SetBaseOffset(base_offset);
    PackFile& added = *pack;
    packages_.push_back(std::move(pack));
    if (added.OpenPackFile(host_path)) return 1;
    LauncherLog::Instance().Write(L"Update package %ls at %lld: %ls\n", host_path.c_str(),
                                  (long long)base_offset, Utf8ToWide(added.LastError()).c_str());
    return 0;
}

int CSTDownloadManager::IsInUpdatePackages(const std::wstring& name) const {
    for (const auto& pack : packages_)
        if (pack->FindFile(name)) return 1;
    return 0;
}

PackEntryHandle CSTDownloadManager::OpenInUpdatePackages(const std::wstring& name,
                                                         const PackFile*& pack,
                                                         int64_t* data_offset,
                                                         int64_t* file_size) const {
    pack = nullptr;
    for (const auto& candidate : packages_) {
        if (!candidate->FindFile(name, data_offset, file_size)) continue;
        PackEntryHandle handle = candidate->OpenEntry(name);
        if (handle.Valid()) {
            pack = candidate.get();
            return handle;
        }
    }
    return PackEntryHandle();
}

int CSTDownloadManager::ReadUpdatePackage(const PackFile* pack, PackEntryHandle& handle,
                                          void* buffer, size_t count, int64_t& bytes_read) const {
    bytes_read = 0;
    if (!pack || !handle.Valid()) return 0;
    return pack->ReadPackFile(handle, buffer, count, bytes_read);
}

int CSTDownloadManager::ExtractFromUpdatePackages(const std::wstring& name,
                                                  const std::wstring& destination) const {
    for (const auto& pack : packages_)
        if (pack->ExtractFile(name, destination)) return 1;
    return 0;
}

void CSTDownloadManager::Schedule() {
    std::shared_lock<std::shared_mutex> in_use(jobs_in_use_);
    std::vector<TDownloadJobBase*> start;
    {
        ScopedLock hold(lock_);
        int32_t load = 0;
        for (TDownloadJobBase* job : starting_) load += job->Weight();
        for (TDownloadJobBase* job : jobs_) {
            if (IsActive(job->GetState())) load += job->Weight();
            if (load >= kLoadLimit) return;
        }
        for (TDownloadJobBase* job : jobs_) {
            if (job->GetState() != kJobWaiting) continue;
            if (std::find(starting_.begin(), starting_.end(), job) != starting_.end()) continue;
            start.push_back(job);
            starting_.push_back(job);
            load += job->Weight();
            if (load >= kLoadLimit) break;
        }
    }
    // Executed without the lock: a job may end (and report) before Execute returns.
    for (TDownloadJobBase* job : start) {
        job->Execute();
        ScopedLock hold(lock_);
        starting_.erase(std::find(starting_.begin(), starting_.end(), job));
    }
}

}  // namespace velm
