#pragma once
// The ".ha" resume record kept beside a transfer file. It vouches, block by block, for the
// bytes of an interrupted download so that the next attempt resumes after the last block
// that still verifies. All integers little-endian:
//
//   offset 0    4   version (signed), written as 100; below 100 the record is ignored
//   offset 4    8   reserved, zero
//   offset 12   8   creation time, Windows file time (100 ns units since 1601, UTC)
//   offset 20  24n  entries: block length (signed 64-bit), MD5 of the block (16 bytes)
//
// Entries describe consecutive blocks from offset 0; all but the last are one full block.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/md5.h"

namespace velm {

constexpr int32_t kResumeRecordVersion = 100;
constexpr size_t kResumeHeaderSize = 20;
constexpr size_t kResumeEntrySize = 24;
constexpr int32_t kResumeBlockSize = 113553;
constexpr const wchar_t* kResumeRecordSuffix = L".ha";

struct ResumeHeader {
    int32_t version = kResumeRecordVersion;
    uint64_t created = 0;  // file time
};

struct ResumeEntry {
    int64_t length = 0;
    Md5Digest digest{};
};

void EncodeResumeHeader(const ResumeHeader& header, uint8_t out[kResumeHeaderSize]);
ResumeHeader DecodeResumeHeader(const uint8_t in[kResumeHeaderSize]);
void EncodeResumeEntry(const ResumeEntry& entry, uint8_t out[kResumeEntrySize]);
ResumeEntry DecodeResumeEntry(const uint8_t in[kResumeEntrySize]);

struct ResumeCheck {
    bool usable = false;     // header complete and version at least 100
    bool outdated = false;   // the server's file is newer than the record
    int64_t valid_entries = 0;
    int64_t offset = 0;      // bytes of the transfer file that verify
};

// Compares the record with the transfer file. last_modified is the server's time as a file
// time; a value whose high 32 bits are all ones stands for "unknown" and is later than any
// record. Entries are trusted only as far as their bytes read back with the same digest; an
// entry with an impossible length ends the scan.
ResumeCheck CheckResumeRecord(const std::wstring& record_path, const std::wstring& data_path,
                              uint64_t last_modified);

}  // namespace velm
