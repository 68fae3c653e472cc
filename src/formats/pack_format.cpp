#include "formats/pack_format.h"

#include "common/file_io.h"
#include "common/lzma_encoder.h"
#include "common/text.h"

#include <algorithm>
#include <cstring>

namespace velm {
namespace {

constexpr char kHeadId[4] = {'1', 'd', 'h', ' '};
constexpr char kDataId[4] = {'o', 't', 's', 'f'};
constexpr char kDirId[4] = {'t', 's', 'l', 'f'};
constexpr int64_t kHeadSize = 512;
constexpr int64_t kEntryFixedSize = 40;
constexpr size_t kCopyPiece = 10240;
// Far above any real client (a million entries with long names), far below memory limits.
constexpr int64_t kMaxDirectoryBytes = 256ll << 20;
// At most the size the launcher's decoder is sized for; larger gains little on game files.
constexpr uint32_t kPackDictSize = 10485760;

uint64_t GetLe(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

void PutLe(uint8_t* p, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = uint8_t(v >> (8 * i));
}

bool ReadExact(std::FILE* file, void* buffer, size_t size) {
    return size == 0 || std::fread(buffer, 1, size, file) == size;
}

bool WriteExact(std::FILE* file, const void* data, size_t size) {
    return size == 0 || std::fwrite(data, 1, size, file) == size;
}

// Finds the chunk id from the base; gives the absolute position and size of its data.
bool FindChunk(std::FILE* host, int64_t host_size, int64_t base, const char* id,
               int64_t& data_pos, int64_t& data_size) {
    int64_t pos = base;
    while (host_size - pos >= 12) {
        uint8_t header[12];
        if (!SeekFile(host, pos, SEEK_SET) || !ReadExact(host, header, 12)) return false;
        int64_t size = int64_t(GetLe(header + 4, 8));
        if (size < 0 || size > host_size - pos - 12) return false;
        if (std::memcmp(header, id, 4) == 0) {
            data_pos = pos + 12;
            data_size = size;
            return true;
        }
        pos += 12 + size;
    }
    return false;
}

bool NameLess(const PackSource& a, const PackSource& b) {
    return PackLookupKey(a.name) < PackLookupKey(b.name);
}

bool CopyFile(std::FILE* in, std::FILE* out, int64_t size) {
    std::vector<uint8_t> piece(kCopyPiece);
    for (int64_t left = size; left > 0;) {
        size_t n = size_t(std::min<int64_t>(left, int64_t(kCopyPiece)));
        if (!ReadExact(in, piece.data(), n) || !WriteExact(out, piece.data(), n)) return false;
        left -= int64_t(n);
    }
    return std::fgetc(in) == EOF;
}

// Writes the chunk id and a size placeholder; returns where the placeholder is.
bool BeginChunk(std::FILE* out, const char* id, int64_t& size_pos) {
    if (!WriteExact(out, id, 4)) return false;
    size_pos = TellFile(out);
    uint8_t zero[8] = {};
    return size_pos >= 0 && WriteExact(out, zero, 8);
}

bool EndChunk(std::FILE* out, int64_t size_pos) {
    int64_t end = TellFile(out);
    uint8_t size[8];
    PutLe(size, uint64_t(end - size_pos - 8), 8);
    return end >= 0 && SeekFile(out, size_pos, SEEK_SET) && WriteExact(out, size, 8) &&
           SeekFile(out, end, SEEK_SET);
}

}  // namespace

std::wstring PackLookupKey(const std::wstring& name) {
    std::wstring key = name;
    std::replace(key.begin(), key.end(), L'/', L'\\');
    return AsciiUpper(key);
}

int PackDirectory::Read(std::FILE* host, int64_t host_size, int64_t base_offset,
                        std::string& error) {
    // A pack rejected half-way must not leave the entries read before the fault findable.
    int result = ReadDirectory(host, host_size, base_offset, error);
    if (result != 1) {
        entries_.clear();
        index_.clear();
        data_chunk_offset_ = 0;
    }
    return result;
}

int PackDirectory::ReadDirectory(std::FILE* host, int64_t host_size, int64_t base_offset,
                                 std::string& error) {
    entries_.clear();
    index_.clear();
    data_chunk_offset_ = 0;
    if (base_offset < 0 || base_offset > host_size) {
        error = "base offset outside the file";
        return 0;
    }
    int64_t pos = 0, size = 0;
    if (!FindChunk(host, host_size, base_offset, kHeadId, pos, size) || size < kHeadSize) {
        error = "no \"1dh \" chunk";
        return 0;
    }
    if (!FindChunk(host, host_size, base_offset, kDirId, pos, size) || size < 4) {
        error = "no \"tslf\" chunk";
        return 0;
    }
    if (size > kMaxDirectoryBytes) {
        error = "directory too large";
        return 0;
    }
    std::vector<uint8_t> dir(static_cast<size_t>(size));
    if (!SeekFile(host, pos, SEEK_SET) || !ReadExact(host, dir.data(), dir.size())) {
        error = "directory unreadable";
        return 0;
    }
    uint32_t count = uint32_t(GetLe(dir.data(), 4));
    if (count > (dir.size() - 4) / kEntryFixedSize) {
        error = "directory count larger than the directory";
        return 0;
    }
    const int64_t pack_size = host_size - base_offset;
    size_t at = 4;
    for (uint32_t i = 0; i < count; ++i) {
        if (dir.size() - at < size_t(kEntryFixedSize)) {
            error = "directory ends early";
            return 0;
        }
        const uint8_t* p = dir.data() + at;
        PackEntry entry;
        entry.data_offset = int64_t(GetLe(p, 8));
        entry.file_size = int64_t(GetLe(p + 8, 8));
        entry.stored_size = int64_t(GetLe(p + 16, 8));
        entry.flags = uint32_t(GetLe(p + 24, 4));
        entry.file_time = GetLe(p + 28, 8);
        int32_t name_bytes = int32_t(GetLe(p + 36, 4));
        at += size_t(kEntryFixedSize);
        if (name_bytes < 0 || name_bytes > kMaxPackNameBytes || name_bytes % 2 != 0 ||
            dir.size() - at < size_t(name_bytes)) {
            error = "bad entry name length";
            return 0;
        }
        entry.name = Utf16LeToWide(dir.data() + at, size_t(name_bytes));
        at += size_t(name_bytes);
        bool compressed = (entry.flags & kPackFlagLzma) != 0;
        if (entry.data_offset < 0 || entry.stored_size < 0 || entry.file_size < 0 ||
            entry.data_offset > pack_size || entry.stored_size > pack_size - entry.data_offset ||
            (!compressed && entry.stored_size != entry.file_size)) {
            error = "entry data outside the pack: " + WideToUtf8(entry.name);
            return 0;
        }
        index_.emplace(PackLookupKey(entry.name), entries_.size());
        entries_.push_back(std::move(entry));
    }
    if (FindChunk(host, host_size, base_offset, kDataId, pos, size))
        data_chunk_offset_ = pos - base_offset;
    return 1;
}

const PackEntry* PackDirectory::Find(const std::wstring& name) const {
    auto found = index_.find(PackLookupKey(name));
    return found == index_.end() ? nullptr : &entries_[found->second];
}

int BuildPack(std::FILE* out, std::vector<PackSource> sources, const PackProgress& progress,
              std::string& error) {
    std::stable_sort(sources.begin(), sources.end(), NameLess);
    const int64_t base = TellFile(out);
    uint8_t head[kHeadSize];
    for (int i = 0; i < 128; ++i) PutLe(head + 4 * i, uint32_t(i), 4);
    uint8_t head_size[8];
    PutLe(head_size, uint64_t(kHeadSize), 8);
    int64_t size_pos = 0;
    if (base < 0 || !WriteExact(out, kHeadId, 4) || !WriteExact(out, head_size, 8) ||
        !WriteExact(out, head, sizeof head) || !BeginChunk(out, kDataId, size_pos)) {
        error = "cannot write the pack header";
        return 0;
    }
    std::vector<PackEntry> entries;
    LzmaEncoderSettings settings;
    settings.dict_size = kPackDictSize;
    for (size_t i = 0; i < sources.size(); ++i) {
        const PackSource& source = sources[i];
        std::string name_bytes = WideToUtf16Le(source.name);
        if (name_bytes.size() > size_t(kMaxPackNameBytes)) {
            error = "entry name longer than 1024 bytes: " + WideToUtf8(source.name);
            return 0;
        }
        if (progress) progress(i + 1, sources.size(), source.path, 0);
        PackEntry entry;
        entry.name = source.name;
        entry.flags = source.flags;
        entry.file_time = source.file_time;
        entry.data_offset = TellFile(out) - base;
        entry.file_size = FileSize(source.path);
        FileHandle in = OpenFile(source.path, FileMode::kRead);
        if (!in || entry.file_size < 0) {
            error = "cannot read " + WideToUtf8(source.path);
            return 0;
        }
        bool ok;
        if (source.flags & kPackFlagLzma) {
            LzmaProgress step = [&](uint64_t done) {
                if (progress) progress(i + 1, sources.size(), source.path, done);
            };
            ok = LzmaEncodeFile(in.get(), uint64_t(entry.file_size), out, settings, step);
        } else {
            ok = CopyFile(in.get(), out, entry.file_size);
        }
        if (!ok) {
            error = "cannot pack " + WideToUtf8(source.path) + " (changed while read?)";
            return 0;
        }
        entry.stored_size = TellFile(out) - base - entry.data_offset;
        entries.push_back(entry);
    }
    if (!EndChunk(out, size_pos) || !BeginChunk(out, kDirId, size_pos)) {
        error = "cannot write the pack data";
        return 0;
    }
    uint8_t count[4];
    PutLe(count, uint32_t(entries.size()), 4);
    bool ok = WriteExact(out, count, 4);
    for (const PackEntry& entry : entries) {
        std::string name = WideToUtf16Le(entry.name);
        uint8_t fixed[kEntryFixedSize];
        PutLe(fixed, uint64_t(entry.data_offset), 8);
        PutLe(fixed + 8, uint64_t(entry.file_size), 8);
        PutLe(fixed + 16, uint64_t(entry.stored_size), 8);
        PutLe(fixed + 24, entry.flags, 4);
        PutLe(fixed + 28, entry.file_time, 8);
        PutLe(fixed + 36, uint32_t(name.size()), 4);
        ok = ok && WriteExact(out, fixed, sizeof fixed) && WriteExact(out, name.data(), name.size());
    }
    if (!ok || !EndChunk(out, size_pos) || std::fflush(out) != 0) {
        error = "cannot write the pack directory";
        return 0;
    }
    return 1;
}

}  // namespace velm
