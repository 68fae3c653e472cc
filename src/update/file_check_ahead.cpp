#include "update/file_check_ahead.h"

#include <algorithm>

#include "common/platform.h"

namespace velm {
namespace {

constexpr size_t kNobody = size_t(-1);

}  // namespace

size_t FileCheckAhead::DefaultWorkers() {
    return std::clamp<size_t>(std::thread::hardware_concurrency(), 1, kMaxAtOnce) - 1;
}

FileCheckAhead::FileCheckAhead(const std::vector<FileEntry>& entries, HashCache& cache, bool package_mode,
                               size_t workers)
    : entries_(entries),
      cache_(cache),
      package_mode_(package_mode),
      findings_(new Finding[entries.size()]),
      awaited_(kNobody) {
    workers = std::min(workers, entries.size());
    workers_.reserve(workers);
    for (size_t i = 0; i < workers; ++i) workers_.emplace_back([this] { Work(); });
}

FileCheckAhead::~FileCheckAhead() {
    stop_ = true;
    for (std::thread& worker : workers_) worker.join();
}

void FileCheckAhead::Work() {
    platform::LowerCurrentThreadPriority();
    std::vector<uint8_t> buffer;
    while (!stop_ && ExamineNext(buffer)) {
    }
}

bool FileCheckAhead::ExamineNext(std::vector<uint8_t>& buffer) {
    // Files are claimed in list order, so the owner finds its next result ready or in
    // progress, never queued behind others.
    const size_t index = next_++;
    if (index >= entries_.size()) return false;
    Examine(index, buffer);
    findings_[index].ready = true;
    if (awaited_ == index) {
        std::lock_guard<std::mutex> hold(wake_lock_);
        arrived_.notify_one();
    }
    return true;
}

void FileCheckAhead::Examine(size_t index, std::vector<uint8_t>& buffer) {
    const FileEntry& entry = entries_[index];
    Finding& finding = findings_[index];
    if (IsLeftToSelfUpdate(entry.name, package_mode_)) {
        finding.skipped = true;
        return;
    }
    finding.lookup = cache_.Lookup(entry.name);
    if (finding.lookup.verdict != CacheLookup::Verdict::kCurrent)
        finding.hashed = cache_.HashFile(entry.name, finding.digest, buffer);
}

void FileCheckAhead::WaitFor(size_t index) {
    // Setting awaited_ before testing ready pairs with the worker setting ready before
    // testing awaited_: one of the two sees the other, so no wake-up is lost.
    std::unique_lock<std::mutex> hold(wake_lock_);
    awaited_ = index;
    arrived_.wait(hold, [&] { return findings_[index].ready.load(); });
    awaited_ = kNobody;
}

LocalFileCheck FileCheckAhead::Take(size_t index) {
    while (!findings_[index].ready) {
        if (!ExamineNext(owner_buffer_)) {
            WaitFor(index);
            break;
        }
    }
    const Finding& finding = findings_[index];
    const FileEntry& entry = entries_[index];
    if (finding.skipped) return LocalFileCheck();
    if (finding.lookup.verdict == CacheLookup::Verdict::kCurrent)
        return CompareLocalHash(true, Md5ToHex(finding.lookup.digest), false, entry.hash);
    cache_.LogRecompute(entry.name, finding.lookup);
    return CompareLocalHash(finding.hashed, finding.hashed ? Md5ToHex(finding.digest) : std::wstring(), true,
                            entry.hash);
}

}  // namespace velm
