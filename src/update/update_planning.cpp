#include "update/update_planning.h"

#include "common/log.h"
#include "common/md5.h"
#include "common/text.h"

namespace velm {

LocalFileCheck CheckLocalFile(HashCache& cache, const std::wstring& name, const std::wstring& target_hash,
                              bool package_mode) {
    LocalFileCheck check;
    if (!package_mode && EqualsIgnoreAsciiCase(name, L"\\VelmLauncher.exe")) return check;
    check.update_cache = true;
    check.needs_update = true;
    bool recomputed = false;
    std::wstring hash;
    if (cache.GetLocalFileHash(name, hash, recomputed)) {
        check.local_hash = hash;
        check.update_cache = recomputed;
        if (HashTextEquals(hash, target_hash)) check.needs_update = false;
    }
    return check;
}

void CheckDiffHistory(const std::wstring& local_hash, const std::vector<HistoryVersion>& history,
                      int32_t& start, int64_t& total) {
    start = -1;
    total = 0;
    if (local_hash.empty() || history.empty()) return;
    for (size_t i = 0; i + 1 < history.size(); ++i) {
        if (history[i].hash != history[i + 1].hash && history[i].diff_size < 1) {
            LauncherLog::Instance().Write(
                L"[diff histroy] saniti check failed md5: %ls. full download required.\n", local_hash.c_str());
            return;
        }
    }
    for (size_t j = 0; j < history.size(); ++j) {
        if (history[j].hash == local_hash) {
            start = int32_t(j);
            return;
        }
        total += history[j].diff_size;
    }
    start = -1;
}

bool PlanEntry(const FileEntry& entry, const std::vector<std::wstring>& url_roots, HashCache& cache,
               bool package_mode, std::vector<PlannedJob>& jobs, std::vector<PatchGroup>& groups) {
    LocalFileCheck check = CheckLocalFile(cache, entry.name, entry.hash, package_mode);
    if (!check.needs_update) {
        if (check.update_cache) cache.UpdateHashCacheEntry(entry.full_path, check.local_hash);
        return true;
    }

    int32_t start = -1;
    int64_t total = 0;
    CheckDiffHistory(check.local_hash, entry.history, start, total);
    const int64_t length = int64_t(entry.history.size());
    bool diff_chain = start != -1 && start < length && total > 0 && start >= 1 &&
                      total < entry.size_compressed;

    if (diff_chain) {
        // Every root the chain needs must exist before anything is appended.
        for (int32_t k = start - 1; k >= 0; --k)
            if (entry.history[size_t(k)].diff_size > 0 && size_t(k) >= url_roots.size()) return false;
        groups.push_back(PatchGroup{});
        int32_t group = int32_t(groups.size() - 1);
        int32_t position = 0;
        for (int32_t k = start - 1; k >= 0; --k) {
            const HistoryVersion& step = entry.history[size_t(k)];
            if (step.diff_size <= 0) continue;
            PlannedJob job;
            job.url = url_roots[size_t(k)] + entry.name + L".diff";
            job.local_path = FormatText(L"%ls.diff.%d", entry.full_path.c_str(), position);
            job.expected_size = step.diff_size;
            job.flags = entry.flags;
            job.file_name = entry.name;
            job.patch_group = group;
            job.hash = entry.hash;
            job.content = step.diff;
            jobs.push_back(std::move(job));
            ++groups[size_t(group)].count;
            groups[size_t(group)].outputs.push_back(step.content);
            ++position;
        }
        return true;
    }

    if (FullDownloadRootIndex(entry) >= url_roots.size()) return false;
    jobs.push_back(PlanFullDownload(entry, url_roots));
    return true;
}

PlannedJob PlanFullDownload(const FileEntry& entry, const std::vector<std::wstring>& url_roots) {
    PlannedJob job;
    job.url = url_roots[FullDownloadRootIndex(entry)] + entry.name;
    job.local_path = entry.full_path;
    job.expected_size = entry.size_compressed;
    job.flags = entry.flags;
    job.file_name = entry.name;
    job.full_download = 1;
    job.hash = entry.hash;
    job.content = entry.content;
    return job;
}

}  // namespace velm
