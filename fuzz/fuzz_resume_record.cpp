// The ".ha" resume record beside an interrupted transfer. Input: 8 bytes of the server's
// time, a 16-bit length, the record, then the transfer file. The resume offset must be
// vouched for by the record's digests, block by block, and never pass the file's end.
#include "fuzz_support.h"

#include "formats/resume_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::wstring record_path = velm_fuzz::ScratchPath("transfer.ha");
    static const std::wstring data_path = velm_fuzz::ScratchPath("transfer");
    if (size < 8) return 0;
    uint64_t last_modified = 0;
    for (int i = 7; i >= 0; --i) last_modified = last_modified << 8 | data[i];
    const velm_fuzz::TwoPieces files = velm_fuzz::SplitInput(data + 8, size - 8);
    velm_fuzz::WriteBytes(record_path, files.first, files.first_size);
    velm_fuzz::WriteBytes(data_path, files.second, files.second_size);

    const velm::ResumeCheck check = velm::CheckResumeRecord(record_path, data_path, last_modified);
    FUZZ_CHECK(check.offset >= 0 && check.valid_entries >= 0);
    if (!check.usable || check.outdated) {
        FUZZ_CHECK(check.offset == 0 && check.valid_entries == 0);
        return 0;
    }
    FUZZ_CHECK(files.first_size >= velm::kResumeHeaderSize);
    FUZZ_CHECK(uint64_t(check.offset) <= files.second_size);
    FUZZ_CHECK(uint64_t(check.valid_entries) <=
               (files.first_size - velm::kResumeHeaderSize) / velm::kResumeEntrySize);
    int64_t offset = 0;
    for (int64_t i = 0; i < check.valid_entries; ++i) {
        velm::ResumeEntry entry =
            velm::DecodeResumeEntry(files.first + velm::kResumeHeaderSize + size_t(i) * velm::kResumeEntrySize);
        FUZZ_CHECK(entry.length > 0 && entry.length <= velm::kResumeBlockSize);
        // Only the last vouched block may be short.
        FUZZ_CHECK(entry.length == velm::kResumeBlockSize || i + 1 == check.valid_entries);
        FUZZ_CHECK(velm::Md5Bytes(files.second + offset, size_t(entry.length)) == entry.digest);
        offset += entry.length;
    }
    FUZZ_CHECK(offset == check.offset);
    return 0;
}
