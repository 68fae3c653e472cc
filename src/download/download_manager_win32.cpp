#include "download/download_manager_win32.h"

#include <algorithm>
#include <atomic>

#include "common/log.h"
#include "common/text.h"

namespace velm {
namespace {

std::atomic<int32_t> g_next_job_id{0};

bool IsActive(int32_t state) { return state == kJobRunning || state == kJobUnpacking; }

}  // namespace

CSTDownloadManager::CSTDownloadManager() : thread_(*this) { lock_.Init(L"CSTDownloadManager"); }

CSTDownloadManager::~CSTDownloadManager() { SetRunning(false); }

int CSTDownloadManager::TJobManagmantThread::Run(uintptr_t) {
    manager_.Schedule();
    WaitForStop(kPassIntervalMs);
    return 0;
}

void CSTDownloadManager::AddJob(TDownloadJobBase* job) {
    if (!job) return;
    ScopedLock hold(lock_);
    job->manager_ = this;
    job->job_id_ = g_next_job_id++;
    jobs_.push_back(job);
}

void CSTDownloadManager::RemoveJob(TDownloadJobBase* job) {
    ScopedLock hold(lock_);
    LauncherLog::Instance().Write(L"remove job %d\n", int(reinterpret_cast<intptr_t>(job)));
    auto it = std::find(jobs_.begin(), jobs_.end(), job);
    if (it != jobs_.end()) jobs_.erase(it);
}

void CSTDownloadManager::AbortJob(const std::wstring& key) {
    ScopedLock hold(lock_);
    LauncherLog::Instance().Write(L"abort job: %ls\n", key.c_str());
    for (TDownloadJobBase* job : jobs_) {
        if (job->key == key) {
            job->Abort();
            return;
        }
    }
}

void CSTDownloadManager::AbortAll() {
    ScopedLock hold(lock_);
    LauncherLog& log = LauncherLog::Instance();
    log.Write(L"abort all start\n");
    for (TDownloadJobBase* job : jobs_) job->Abort();
    log.Write(L"abort all end\n");
}

void CSTDownloadManager::DeleteAllJobs() {
    ScopedLock hold(lock_);
    for (TDownloadJobBase* job : jobs_) job->Destroy();
    jobs_.clear();
}

bool CSTDownloadManager::AreAllJobsDone() {
    ScopedLock hold(lock_);
    return std::all_of(jobs_.begin(), jobs_.end(),
                       [](TDownloadJobBase* job) { return job->GetState() == kJobDone; });
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

// The management thread holds the manager's lock during every pass: cut off there, it
// would leave the lock taken for good and the launcher hung. A pass only starts threads
// and reads states, so waiting for its end is short.
void CSTDownloadManager::SetRunning(bool on) {
    if (on) {
        thread_.Start(0);
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
    ScopedLock hold(lock_);
    int32_t load = 0;
    for (TDownloadJobBase* job : jobs_) {
        JobSnapshot snapshot = job->GetSnapshot();
        if (IsActive(snapshot.state)) load += snapshot.weight;
        if (load >= kLoadLimit) return;
    }
    for (TDownloadJobBase* job : jobs_) {
        JobSnapshot snapshot = job->GetSnapshot();
        if (snapshot.state != kJobWaiting) continue;
        job->Execute();
        load += snapshot.weight;
        if (load >= kLoadLimit) return;
    }
}

}  // namespace velm
