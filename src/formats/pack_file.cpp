#include "formats/pack_file.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "common/file_system.h"
#include "common/lzma_decoder.h"
#include "common/text.h"
#include "common/url.h"
#include "formats/file_list.h"

namespace velm {
namespace {

constexpr size_t kCopyPiece = 64 * 1024;

bool MakeParentFolders(const std::wstring& path) {
    std::filesystem::path parent = std::filesystem::u8path(WideToUtf8(path)).parent_path();
    if (parent.empty()) return true;
    std::error_code error;
    std::filesystem::create_directories(parent, error);
    return std::filesystem::is_directory(parent, error);
}

}  // namespace

std::wstring PackEntryNameForUrl(const std::wstring& url) {
    std::wstring name = UrlPath(url);
    name.resize(std::min(name.find(L'?'), name.size()));
    std::replace(name.begin(), name.end(), L'/', L'\\');
    return name;
}

int PackFile::OpenPackFile(const std::wstring& host_path) {
    host_path_ = host_path;
    error_.clear();
    FileHandle host = OpenFile(host_path, FileMode::kRead);
    if (!host) {
        error_ = "cannot open " + WideToUtf8(host_path);
        return 0;
    }
    int64_t host_size = -1;
    if (SeekFile(host.get(), 0, SEEK_END)) host_size = TellFile(host.get());
    if (host_size < 0) {
        error_ = "cannot measure " + WideToUtf8(host_path);
        return 0;
    }
    // A directory that fails half-way keeps the entries read before the damage; a failed
    // package stays in the manager's list, so it must not answer lookups with them.
    if (!directory_.Read(host.get(), host_size, base_offset_, error_)) {
        directory_ = PackDirectory();
        return 0;
    }
    // Entries become files of the installation when extracted, and job lookups compare
    // them with names taken from the file list: both only for names that stay inside.
    // A name without the leading "\\" is relative all the same.
    for (const PackEntry& entry : directory_.Entries()) {
        std::wstring key = PackLookupKey(entry.name);
        if (key.empty() || key[0] != L'\\') key.insert(key.begin(), L'\\');
        if (!IsSafeEntryName(key)) {
            error_ = "unsafe entry name: " + WideToUtf8(entry.name);
            directory_ = PackDirectory();
            return 0;
        }
    }
    return 1;
}

int PackFile::FindFile(const std::wstring& name, int64_t* data_offset, int64_t* file_size) const {
    const PackEntry* entry = directory_.Find(name);
    if (!entry) return 0;
    if (data_offset) *data_offset = entry->data_offset;
    if (file_size) *file_size = entry->file_size;
    return 1;
}

PackEntryHandle PackFile::OpenEntry(const std::wstring& name) const {
    PackEntryHandle handle;
    const PackEntry* entry = directory_.Find(name);
    if (!entry) return handle;
    FileHandle file = OpenFile(host_path_, FileMode::kRead);
    if (!file || !SeekFile(file.get(), base_offset_ + entry->data_offset, SEEK_SET)) return handle;
    handle.file_ = std::move(file);
    handle.remaining_ = entry->stored_size;
    return handle;
}

int PackFile::ReadPackFile(PackEntryHandle& handle, void* buffer, size_t count,
                           int64_t& bytes_read) const {
    bytes_read = 0;
    if (!handle.Valid()) return 0;
    const size_t wanted = size_t(std::min<int64_t>(int64_t(count), handle.remaining_));
    if (wanted == 0) return 1;
    const size_t got = std::fread(buffer, 1, wanted, handle.file_.get());
    if (got < wanted && std::ferror(handle.file_.get())) return 0;
    handle.remaining_ -= int64_t(got);
    bytes_read = int64_t(got);
    return 1;
}

int PackFile::ExtractFile(const std::wstring& name, const std::wstring& destination) const {
    const PackEntry* entry = directory_.Find(name);
    if (!entry || !MakeParentFolders(destination)) return 0;
    PackEntryHandle handle = OpenEntry(name);
    if (!handle.Valid()) return 0;
    FileHandle out = OpenFile(destination, FileMode::kWrite);
    if (!out) return 0;
    std::FILE* out_file = out.get();
    auto write = [out_file](const uint8_t* data, size_t size) {
        return size == 0 || std::fwrite(data, 1, size, out_file) == size;
    };
    bool ok;
    uint64_t written = 0;
    if (entry->flags & kPackFlagLzma) {
        auto read = [&](uint8_t* buffer, size_t size) -> int64_t {
            int64_t got = 0;
            return ReadPackFile(handle, buffer, size, got) ? got : -1;
        };
        auto counted_write = [&](const uint8_t* data, size_t size) {
            written += size;
            return write(data, size);
        };
        ok = DecodeLzmaStream(read, counted_write, uint64_t(entry->file_size)) == 1;
    } else {
        std::vector<uint8_t> piece(kCopyPiece);
        ok = true;
        for (;;) {
            int64_t got = 0;
            if (!ReadPackFile(handle, piece.data(), piece.size(), got)) ok = false;
            if (!ok || got == 0) break;
            ok = write(piece.data(), size_t(got));
            written += uint64_t(got);
        }
    }
    // A stream that stops short of the recorded size is as damaged as one that fails.
    ok = ok && written == uint64_t(entry->file_size);
    ok = std::fclose(out.release()) == 0 && ok;
    if (ok && entry->file_time != 0 && !SetFileWriteTime(destination, entry->file_time)) ok = false;
    if (!ok) RemoveFile(destination);
    return ok ? 1 : 0;
}

}  // namespace velm
