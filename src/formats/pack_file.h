#pragma once
// PackFile: one opened update package (layout in pack_format.h), carried at a base offset
// inside a host file, normally the launcher's own executable. Opening reads only the
// directory; entries are read later through handles that open the host file again, so
// that two jobs can stream two entries at once without sharing a file position.
//
// The host file is untrusted: the directory is checked against the host's real length,
// and an entry name that could leave the installation folder fails the whole package.
//
// Threads: SetBaseOffset and OpenPackFile run once, before any other call; afterwards
// the const operations may run on any number of threads at once.
#include <cstdint>
#include <string>

#include "common/file_io.h"
#include "formats/pack_format.h"

namespace velm {

// The name under which a package holds the object that the patch server serves at url:
// the URL's path without scheme, host and query, with "\\" separators, so that
// "http://host:8080/patch/v3\\Data\\a.pak" and "/patch/v3/Data/a.pak" both give
// "\\patch\\v3\\Data\\a.pak". In package mode a job's url is this name: the host that
// served a release does not matter to a package. Empty when the URL has no path.
std::wstring PackEntryNameForUrl(const std::wstring& url);

// An open entry: the host file positioned at the entry's data, and how many bytes of the
// entry's stored data are still to come. Reads never run past the entry into its
// neighbour.
class PackEntryHandle {
public:
    PackEntryHandle() = default;
    bool Valid() const { return file_ != nullptr; }

private:
    friend class PackFile;
    FileHandle file_;
    int64_t remaining_ = 0;
};

class PackFile {
public:
    void SetBaseOffset(int64_t base_offset) { base_offset_ = base_offset; }

    // 1 when the host file holds a package at the base offset and its directory is sound;
    // 0 otherwise, with an English reason in LastError.
    int OpenPackFile(const std::wstring& host_path);

    // 1 when name is in the directory. Names compare with "/" read as "\\" and without
    // regard to the case of A to Z.
    int FindFile(const std::wstring& name, int64_t* data_offset = nullptr,
                 int64_t* file_size = nullptr) const;

    // An invalid handle when the name is missing or the host file cannot be opened.
    PackEntryHandle OpenEntry(const std::wstring& name) const;

    // Reads up to count bytes of the entry. 1 on success (bytes_read 0 once the entry's
    // stored data is used up), 0 for an invalid handle or a failed read.
    int ReadPackFile(PackEntryHandle& handle, void* buffer, size_t count,
                     int64_t& bytes_read) const;

    // Writes the entry's file to destination (its folders created): decoded when the entry
    // is compressed, copied when stored; then sets the entry's file time. A failure leaves
    // no destination file behind. 1 or 0.
    int ExtractFile(const std::wstring& name, const std::wstring& destination) const;

    const std::wstring& HostPath() const { return host_path_; }
    int64_t BaseOffset() const { return base_offset_; }
    int64_t DataChunkOffset() const { return directory_.DataChunkOffset(); }
    const PackDirectory& Directory() const { return directory_; }
    const std::string& LastError() const { return error_; }

private:
    PackDirectory directory_;
    std::wstring host_path_;
    int64_t base_offset_ = 0;
    std::string error_;
};

}  // namespace velm
