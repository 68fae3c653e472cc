#include "formats/resume_record.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/file_io.h"
#include "common/text.h"
#include "formats/test_streams.h"

namespace velm {
namespace {

constexpr uint64_t kCreated = 0x01D9000000000000ull;
constexpr int64_t kBlock = kResumeBlockSize;

std::wstring TempPath(const std::string& name) {
    const char* dir = std::getenv("VELM_BINARY_DIR");
    std::string base = dir ? std::string(dir) : std::string(".");
#ifdef _WIN32
    std::wstring path = L"Z:" + Utf8ToWide(base + "/resume_record_test_" + name);
    for (auto& c : path)
        if (c == L'/') c = L'\\';
    return path;
#else
    return Utf8ToWide(base + "/resume_record_test_" + name);
#endif
}

std::vector<uint8_t> Record(uint64_t created, int32_t version, const std::vector<ResumeEntry>& entries) {
    ResumeHeader header;
    header.version = version;
    header.created = created;
    std::vector<uint8_t> bytes(kResumeHeaderSize);
    EncodeResumeHeader(header, bytes.data());
    for (const ResumeEntry& entry : entries) {
        uint8_t raw[kResumeEntrySize];
        EncodeResumeEntry(entry, raw);
        bytes.insert(bytes.end(), raw, raw + kResumeEntrySize);
    }
    return bytes;
}

// One entry per block of data, as the write thread produces them.
std::vector<ResumeEntry> EntriesFor(const std::vector<uint8_t>& data) {
    std::vector<ResumeEntry> entries;
    for (size_t at = 0; at < data.size(); at += size_t(kBlock)) {
        size_t length = std::min(data.size() - at, size_t(kBlock));
        entries.push_back({int64_t(length), Md5Bytes(data.data() + at, length)});
    }
    return entries;
}

TEST(ResumeRecordFormat, HeaderAndEntryBytesAreLittleEndianAtTheirOffsets) {
    ResumeEntry entry{0x0102030405060708ll, Md5Bytes("abc", 3)};
    std::vector<uint8_t> bytes = Record(0x1122334455667788ull, 100, {entry});
    ASSERT_EQ(bytes.size(), 44u);
    const std::vector<uint8_t> header = {100, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                         0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11};
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 20), header);
    EXPECT_EQ(bytes[20], 0x08);
    EXPECT_EQ(bytes[27], 0x01);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 28, bytes.end()),
              std::vector<uint8_t>(entry.digest.begin(), entry.digest.end()));
    ResumeEntry back = DecodeResumeEntry(bytes.data() + 20);
    EXPECT_EQ(back.length, entry.length);
    EXPECT_EQ(back.digest, entry.digest);
}

struct CheckCase {
    const char* name;
    size_t data_size;        // bytes of the transfer file that match the source
    int entries;             // how many entries the record lists (-1: one per block)
    int bad_entry;           // index whose digest is spoiled (-1: none)
    int64_t bad_length;      // replaces the length of entry 0 when non-zero
    int32_t version;
    uint64_t last_modified;
    size_t record_cut;       // keep only this many record bytes (0: all)
    bool usable;
    bool outdated;
    int64_t valid_entries;
};

TEST(ResumeRecord, TrustsBlocksOnlyAsFarAsTheyVerify) {
    const uint64_t older = kCreated - 1;
    const uint64_t newer = kCreated + 1;
    const uint64_t unknown = ~uint64_t(0);
    const CheckCase cases[] = {
        {"all blocks verify", 3 * kBlock + 500, -1, -1, 0, 100, older, 0, true, false, 4},
        {"exact multiple of the block", 2 * kBlock, -1, -1, 0, 100, older, 0, true, false, 2},
        {"bad digest in the middle", 4 * kBlock, -1, 2, 0, 100, older, 0, true, false, 2},
        {"entry past the end of the file", 2 * kBlock, 3, -1, 0, 100, older, 0, true, false, 2},
        {"server file newer than the record", 2 * kBlock, -1, -1, 0, 100, newer, 0, true, true, 0},
        {"server time unknown", 2 * kBlock, -1, -1, 0, 100, unknown, 0, true, true, 0},
        {"old version", 2 * kBlock, -1, -1, 0, 99, older, 0, false, false, 0},
        {"record shorter than its header", 2 * kBlock, -1, -1, 0, 100, older, 19, false, false, 0},
        {"half an entry at the end", 2 * kBlock, -1, -1, 0, 100, older, 20 + 24 + 10, true, false, 1},
        {"entry longer than a block", 2 * kBlock, -1, -1, kBlock + 1, 100, older, 0, true, false, 0},
        {"negative entry length", 2 * kBlock, -1, -1, -5, 100, older, 0, true, false, 0},
    };
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> data = test::SampleData(c.data_size);
        std::vector<ResumeEntry> entries = EntriesFor(data);
        if (c.entries >= 0) {
            std::vector<uint8_t> longer = test::SampleData(size_t(c.entries) * size_t(kBlock));
            entries = EntriesFor(longer);
        }
        if (c.bad_entry >= 0) entries[size_t(c.bad_entry)].digest[5] ^= 1;
        if (c.bad_length != 0) entries[0].length = c.bad_length;
        std::vector<uint8_t> record = Record(kCreated, c.version, entries);
        if (c.record_cut) record.resize(c.record_cut);
        const std::wstring data_path = TempPath("data.bin");
        const std::wstring record_path = data_path + kResumeRecordSuffix;
        ASSERT_TRUE(WriteWholeFile(data_path, data.data(), data.size()));
        ASSERT_TRUE(WriteWholeFile(record_path, record.data(), record.size()));
        ResumeCheck check = CheckResumeRecord(record_path, data_path, c.last_modified);
        EXPECT_EQ(check.usable, c.usable);
        EXPECT_EQ(check.outdated, c.outdated);
        EXPECT_EQ(check.valid_entries, c.valid_entries);
        int64_t offset = 0;
        for (int64_t i = 0; i < check.valid_entries; ++i) offset += entries[size_t(i)].length;
        EXPECT_EQ(check.offset, offset);
        RemoveFile(data_path);
        RemoveFile(record_path);
    }
}

TEST(ResumeRecord, MissingFilesGiveNothingToResume) {
    const std::wstring data_path = TempPath("missing.bin");
    RemoveFile(data_path);
    RemoveFile(data_path + kResumeRecordSuffix);
    ResumeCheck check = CheckResumeRecord(data_path + kResumeRecordSuffix, data_path, 0);
    EXPECT_FALSE(check.usable);
    EXPECT_EQ(check.offset, 0);
    std::vector<uint8_t> record = Record(kCreated, 100, EntriesFor(test::SampleData(1000)));
    ASSERT_TRUE(WriteWholeFile(data_path + kResumeRecordSuffix, record.data(), record.size()));
    check = CheckResumeRecord(data_path + kResumeRecordSuffix, data_path, 0);
    EXPECT_TRUE(check.usable);
    EXPECT_EQ(check.valid_entries, 0);
    RemoveFile(data_path + kResumeRecordSuffix);
}

}  // namespace
}  // namespace velm
