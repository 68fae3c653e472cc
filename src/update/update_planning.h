#pragma once
// Update planning: for one file list entry, whether the installed file is current, and if
// not, whether to fetch the whole file or the chain of diffs that turns the installed
// version into the current one. Produces job descriptions in the order they must run;
// the update run turns them into download jobs.
//
// Runs on the update thread before any file job starts; the hash cache is its only shared
// state and has its own lock.
#include <cstdint>
#include <string>
#include <vector>

#include "formats/file_list.h"
#include "formats/hash_cache.h"

namespace velm {

// One download the plan asks for.
struct PlannedJob {
    std::wstring url;
    std::wstring local_path;
    int64_t expected_size = -1;
    uint32_t flags = 0;
    std::wstring file_name;    // the entry's relative name, exactly as listed
    int32_t patch_group = -1;  // index of the diff chain this job belongs to; -1 otherwise
    int32_t full_download = 0; // 1 on a full download of a file entry
    std::wstring hash;         // the published MD5 the file must have once the job (or its chain) is done
    // What the job's own output must be, when the list gives it: the file of a full
    // download, the decoded diff of a diff step.
    ContentDigest content;
};

// A chain of diff jobs for one file: how many there are and how many have been applied,
// and what each applied step must make, when the list gives it (the last is the file).
struct PatchGroup {
    int32_t count = 0;
    int32_t done = 0;
    std::vector<ContentDigest> outputs;
};

struct LocalFileCheck {
    std::wstring local_hash;  // empty when the file is missing or unreadable
    bool update_cache = false;
    bool needs_update = false;
};

// Compares the installed file with the published hash (without regard to case). In
// normal mode the launcher's own entry never needs an update here: it replaces itself
// through its own path.
LocalFileCheck CheckLocalFile(HashCache& cache, const std::wstring& name, const std::wstring& target_hash,
                              bool package_mode);

// Where the installed version sits in the history (exact hash comparison) and the sum of
// the diff sizes from it up to the current version. start is -1 when the version is not
// in the history or the chain is broken (two versions differ with no diff published).
void CheckDiffHistory(const std::wstring& local_hash, const std::vector<HistoryVersion>& history,
                      int32_t& start, int64_t& total);

// The full download of an entry's current version (from the first URL root that holds
// it whole). The entry's history must fit the roots, as ParseFileList ensures.
PlannedJob PlanFullDownload(const FileEntry& entry, const std::vector<std::wstring>& url_roots);

// Plans one entry: appends its jobs (and a patch group for a diff chain) and refreshes the
// hash cache for a current file whose hash had to be recomputed. False when the entry
// needs a URL root the list does not carry; nothing is appended then.
bool PlanEntry(const FileEntry& entry, const std::vector<std::wstring>& url_roots, HashCache& cache,
               bool package_mode, std::vector<PlannedJob>& jobs, std::vector<PatchGroup>& groups);

}  // namespace velm
