#pragma once
// Files by wide path on both builds (the Windows CRT takes UTF-16 names, POSIX takes UTF-8).
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace velm {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

enum class FileMode { kRead, kReadSequential, kWrite, kReadWrite, kAppend };

// Binary mode always; kWrite truncates, kReadWrite opens an existing file for update.
// kReadSequential reads like kRead and tells Windows the file is read from start to end,
// so that it reads ahead of the reader.
FileHandle OpenFile(const std::wstring& path, FileMode mode);

// Reads at most max_size bytes; false when the file is missing, unreadable or larger.
bool ReadWholeFile(const std::wstring& path, std::vector<uint8_t>& bytes, uint64_t max_size);
bool ReadWholeFile(const std::wstring& path, std::string& bytes, uint64_t max_size);

bool WriteWholeFile(const std::wstring& path, const void* data, size_t size);

// Replaces the file's content without ever leaving it half-written: the data goes to a
// file beside it (path + ".new"), is flushed to the disk, and is moved over the file. On
// failure (a full disk, a write cut short) the file is left as it was and the file beside
// it is removed.
bool ReplaceWholeFile(const std::wstring& path, const void* data, size_t size);

bool FileExists(const std::wstring& path);

// Size in bytes, or -1 when the file cannot be examined.
int64_t FileSize(const std::wstring& path);

bool RemoveFile(const std::wstring& path);

// 64-bit seek and tell on both CRTs.
bool SeekFile(std::FILE* file, int64_t offset, int origin);
int64_t TellFile(std::FILE* file);

}  // namespace velm
