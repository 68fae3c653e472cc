#include "formats/resume_record.h"

#include <cstring>

#include "common/file_io.h"

namespace velm {
namespace {

constexpr size_t kVerifyPiece = 8192;

void StoreLe(uint8_t* out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[i] = uint8_t(value >> (8 * i));
}

uint64_t LoadLe(const uint8_t* in, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | in[i];
    return value;
}

// Reads exactly length bytes in 8 KiB pieces and compares their digest.
bool BlockMatches(std::FILE* data, const ResumeEntry& entry) {
    uint8_t piece[kVerifyPiece];
    Md5 md5;
    int64_t left = entry.length;
    while (left > 0) {
        size_t want = left < int64_t(kVerifyPiece) ? size_t(left) : kVerifyPiece;
        if (std::fread(piece, 1, want, data) != want) return false;
        md5.Update(piece, want);
        left -= int64_t(want);
    }
    return md5.Finish() == entry.digest;
}

}  // namespace

void EncodeResumeHeader(const ResumeHeader& header, uint8_t out[kResumeHeaderSize]) {
    StoreLe(out, uint32_t(header.version), 4);
    StoreLe(out + 4, 0, 8);
    StoreLe(out + 12, header.created, 8);
}

ResumeHeader DecodeResumeHeader(const uint8_t in[kResumeHeaderSize]) {
    ResumeHeader header;
    header.version = int32_t(uint32_t(LoadLe(in, 4)));
    header.created = LoadLe(in + 12, 8);
    return header;
}

void EncodeResumeEntry(const ResumeEntry& entry, uint8_t out[kResumeEntrySize]) {
    StoreLe(out, uint64_t(entry.length), 8);
    std::memcpy(out + 8, entry.digest.data(), 16);
}

ResumeEntry DecodeResumeEntry(const uint8_t in[kResumeEntrySize]) {
    ResumeEntry entry;
    entry.length = int64_t(LoadLe(in, 8));
    std::memcpy(entry.digest.data(), in + 8, 16);
    return entry;
}

ResumeCheck CheckResumeRecord(const std::wstring& record_path, const std::wstring& data_path,
                              uint64_t last_modified) {
    ResumeCheck check;
    FileHandle record = OpenFile(record_path, FileMode::kRead);
    if (!record) return check;
    uint8_t header_bytes[kResumeHeaderSize];
    if (std::fread(header_bytes, 1, sizeof(header_bytes), record.get()) != sizeof(header_bytes))
        return check;
    ResumeHeader header = DecodeResumeHeader(header_bytes);
    if (header.version < kResumeRecordVersion) return check;
    check.usable = true;
    if (last_modified > header.created) {
        check.outdated = true;
        return check;
    }
    FileHandle data = OpenFile(data_path, FileMode::kRead);
    if (!data) return check;
    uint8_t entry_bytes[kResumeEntrySize];
    while (std::fread(entry_bytes, 1, sizeof(entry_bytes), record.get()) == sizeof(entry_bytes)) {
        ResumeEntry entry = DecodeResumeEntry(entry_bytes);
        if (entry.length <= 0 || entry.length > kResumeBlockSize) break;
        if (!BlockMatches(data.get(), entry)) break;
        check.offset += entry.length;
        ++check.valid_entries;
        // Only the last block of a transfer is short; nothing after it can follow on.
        if (entry.length < kResumeBlockSize) break;
    }
    return check;
}

}  // namespace velm
