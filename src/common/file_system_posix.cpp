#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/file_system.h"
#include "common/text.h"

namespace velm {
namespace {

// Seconds from 1601-01-01 to the Unix epoch.
constexpr uint64_t kEpochDifference = 11644473600ull;

}  // namespace

bool FileWriteTime(const std::wstring& path, uint64_t& time) {
    struct stat info;
    if (stat(WideToUtf8(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    time = (uint64_t(info.st_mtim.tv_sec) + kEpochDifference) * 10000000ull +
           uint64_t(info.st_mtim.tv_nsec) / 100;
    return true;
}

bool SetFileWriteTime(const std::wstring& path, uint64_t time) {
    uint64_t since_epoch = time - kEpochDifference * 10000000ull;
    timespec times[2];
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = time_t(since_epoch / 10000000ull);
    times[1].tv_nsec = long(since_epoch % 10000000ull) * 100;
    return utimensat(AT_FDCWD, WideToUtf8(path).c_str(), times, 0) == 0;
}

bool ReplaceFileAtomically(const std::wstring& from, const std::wstring& to) {
    return std::rename(WideToUtf8(from).c_str(), WideToUtf8(to).c_str()) == 0;
}

bool FlushFileToDisk(const std::wstring& path) {
    const int fd = open(WideToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool flushed = fsync(fd) == 0;
    return close(fd) == 0 && flushed;
}

bool CommitStagedFile(const std::wstring& staging, const std::wstring& to) {
    return FlushFileToDisk(staging) && ReplaceFileAtomically(staging, to);
}

}  // namespace velm
