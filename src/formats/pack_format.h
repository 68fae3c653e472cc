#pragma once
// The update package (pack file): the chunks "1dh ", "otsf" (entry data) and "tslf"
// (directory), carried at a base offset inside a host file (the launcher's executable).
// Platform-free core of the reader and the writer.
//
// Chunk:      0 id (4 ASCII bytes) | 4 data size (s64) | 12 data
// "1dh ":     512 bytes, the 32-bit values 0..127 (read and ignored)
// "otsf":     the stored data of all entries, back to back
// "tslf":     u32 count, then per entry:
//             0 data offset from the base (s64) | 8 file size (s64) | 16 stored size (s64)
//             24 flags (u32, bit 0 = LZMA stand-alone stream) | 28 file time (FILETIME)
//             36 name length in bytes (s32, <= 1024) | 40 name, UTF-16LE, "\\" separators
// All integers little-endian. The host file is untrusted: every offset, size and count is
// checked against its real length before use.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace velm {

constexpr uint32_t kPackFlagLzma = 1;
constexpr int32_t kMaxPackNameBytes = 1024;

struct PackEntry {
    int64_t data_offset = 0;  // from the base offset
    int64_t file_size = 0;
    int64_t stored_size = 0;
    uint32_t flags = 0;
    uint64_t file_time = 0;
    std::wstring name;
};

// Lookup form of a name: "/" becomes "\\", letters A to Z compare without case.
std::wstring PackLookupKey(const std::wstring& name);

// The directory of one pack. Not thread-safe to fill; const lookups may run on any thread.
class PackDirectory {
public:
    // Reads the pack at base_offset in host (host_size bytes long). 1 on success, 0 with
    // an English reason in error and no entries.
    int Read(std::FILE* host, int64_t host_size, int64_t base_offset, std::string& error);

    // The entry stored under name (first one read when several share it), or null.
    const PackEntry* Find(const std::wstring& name) const;

    const std::vector<PackEntry>& Entries() const { return entries_; }
    // Position of the "otsf" data from the base offset; 0 when the chunk is missing.
    int64_t DataChunkOffset() const { return data_chunk_offset_; }

private:
    int ReadDirectory(std::FILE* host, int64_t host_size, int64_t base_offset, std::string& error);

    std::vector<PackEntry> entries_;
    std::map<std::wstring, size_t> index_;
    int64_t data_chunk_offset_ = 0;
};

struct PackSource {
    std::wstring name;  // entry name, "\\" separators
    std::wstring path;  // file to read
    uint32_t flags = kPackFlagLzma;
    uint64_t file_time = 0;
};

// Called before each entry with its number (from 1), the count and its source path, and
// while compressing with the bytes of that entry done so far.
using PackProgress = std::function<void(size_t number, size_t count, const std::wstring& path,
                                        uint64_t done)>;

// Writes a whole pack at out's current position (the base offset). Entries are sorted by
// name without regard to case. 1 on success, 0 with a reason in error.
int BuildPack(std::FILE* out, std::vector<PackSource> sources, const PackProgress& progress,
              std::string& error);

}  // namespace velm
