#pragma once
// The check of the installed files, worked out ahead of the planning loop on several
// threads. Files are independent, so a check that has to hash gigabytes (no cache, or a
// cache that no longer matches) runs on the cores there are instead of one, while the
// planning loop takes the results in list order. Each result is what CheckLocalFile would
// give at that point, the log lines written by the taker in the same order, so the plan,
// the log and the hash cache come out as the one-file-at-a-time check leaves them.
//
// Threads: the owner (the update thread) constructs it, calls Take with 0, 1, 2... and
// destroys it. Rather than sleep while its next result is still being worked out, the
// owner examines the next unclaimed files itself, so a check of current files costs no
// hand-over per file. The workers only read the hash cache (under its lock) and hash
// files; the owner stores recomputed hashes, as planning always has. The workers run
// below the window's priority.
//
// Stopping: the destructor lets no worker take another file and joins them. A hash in
// progress ends at its next MiB once the cache's cancel flag is set, which the run sets
// before its cancel event; a run that stops planning early has always been cancelled.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "formats/file_list.h"
#include "formats/hash_cache.h"
#include "update/update_planning.h"

namespace velm {

class FileCheckAhead {
public:
    // Files examined at once (the owner and its workers): one per core, at most this
    // many. More would not help: beyond a few cores the disk, not MD5, sets the pace, and
    // a spinning disk loses to seeking between every file read at once.
    static constexpr size_t kMaxAtOnce = 4;
    // The workers besides the owner: one fewer than the files examined at once.
    static size_t DefaultWorkers();

    // Starts the workers (none: the owner examines every file in Take). entries and cache
    // must outlive this object.
    FileCheckAhead(const std::vector<FileEntry>& entries, HashCache& cache, bool package_mode,
                   size_t workers = DefaultWorkers());
    ~FileCheckAhead();
    FileCheckAhead(const FileCheckAhead&) = delete;
    FileCheckAhead& operator=(const FileCheckAhead&) = delete;

    // The check of entries[index]; waits until a worker has it. Called in list order.
    LocalFileCheck Take(size_t index);

private:
    // One entry's findings, written by the worker that claimed it before ready is set.
    struct Finding {
        bool skipped = false;  // the launcher's own entry: not examined
        CacheLookup lookup;
        bool hashed = false;
        Md5Digest digest{};
        std::atomic<bool> ready{false};
    };

    void Work();
    // Claims the next file nobody has claimed and examines it, hashing through buffer;
    // false when none is left.
    bool ExamineNext(std::vector<uint8_t>& buffer);
    void Examine(size_t index, std::vector<uint8_t>& buffer);
    void WaitFor(size_t index);

    const std::vector<FileEntry>& entries_;
    HashCache& cache_;
    const bool package_mode_;
    std::unique_ptr<Finding[]> findings_;
    std::vector<uint8_t> owner_buffer_;  // the owner's reads when it examines files
    std::atomic<size_t> next_{0};
    std::atomic<bool> stop_{false};
    // The index the taker sleeps on (npos when it does not), so that workers wake it only
    // then instead of after every file.
    std::atomic<size_t> awaited_;
    std::mutex wake_lock_;
    std::condition_variable arrived_;
    std::vector<std::thread> workers_;
};

}  // namespace velm
