// Update package writer and the reader's directory checks.
#include "common/file_io.h"
#include "common/lzma_decoder.h"
#include "common/text.h"
#include "formats/pack_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

namespace velm {
namespace {

class PackFixture : public ::testing::Test {
protected:
    void SetUp() override {
        std::mt19937 rng(5);
        files_ = {{L"\\Game\\Data\\Big.DAT", std::vector<uint8_t>(70000)},
                  {L"\\game\\readme.txt", {'h', 'i'}},
                  {L"\\Empty.bin", {}}};
        for (auto& b : files_[0].second) b = uint8_t(rng() % 7);
        for (size_t i = 0; i < files_.size(); ++i) {
            std::wstring path = L"publish_pack_src" + std::to_wstring(i);
            ASSERT_TRUE(WriteWholeFile(path, files_[i].second.data(), files_[i].second.size()));
            paths_.push_back(path);
        }
    }
    void TearDown() override {
        for (const auto& p : paths_) RemoveFile(p);
        RemoveFile(host_);
    }

    // Writes prefix bytes, then the pack; returns the base offset.
    int64_t Build(uint32_t flags, size_t prefix = 100) {
        FileHandle out = OpenFile(host_, FileMode::kWrite);
        std::vector<uint8_t> head(prefix, 'M');
        std::fwrite(head.data(), 1, head.size(), out.get());
        std::vector<PackSource> sources;
        for (size_t i = 0; i < files_.size(); ++i)
            sources.push_back({files_[i].first, paths_[i], flags, 0x01D9000000000000ull + i});
        std::string error;
        int result = BuildPack(out.get(), sources, nullptr, error);
        EXPECT_EQ(result, 1) << error;
        return int64_t(prefix);
    }

    std::vector<uint8_t> HostBytes() {
        std::vector<uint8_t> bytes;
        EXPECT_TRUE(ReadWholeFile(host_, bytes, 1u << 30));
        return bytes;
    }

    int ReadDirectory(const std::vector<uint8_t>& host, int64_t base, PackDirectory& dir) {
        WriteWholeFile(host_, host.data(), host.size());
        FileHandle in = OpenFile(host_, FileMode::kRead);
        std::string error;
        return dir.Read(in.get(), int64_t(host.size()), base, error);
    }

    std::vector<std::pair<std::wstring, std::vector<uint8_t>>> files_;
    std::vector<std::wstring> paths_;
    std::wstring host_ = L"publish_pack_host.bin";
};

TEST_F(PackFixture, EveryEntryExtractsByteIdentical) {
    for (uint32_t flags : {kPackFlagLzma, 0u}) {
        int64_t base = Build(flags);
        std::vector<uint8_t> host = HostBytes();
        PackDirectory dir;
        ASSERT_EQ(ReadDirectory(host, base, dir), 1);
        ASSERT_EQ(dir.Entries().size(), files_.size());
        EXPECT_GT(dir.DataChunkOffset(), 0);
        for (size_t i = 0; i < files_.size(); ++i) {
            const PackEntry* entry = dir.Find(files_[i].first);
            ASSERT_NE(entry, nullptr);
            EXPECT_EQ(entry->file_size, int64_t(files_[i].second.size()));
            EXPECT_EQ(entry->file_time, 0x01D9000000000000ull + i);
            const uint8_t* stored = host.data() + base + entry->data_offset;
            std::vector<uint8_t> content;
            if (flags) {
                ASSERT_EQ(DecodeLzmaBuffer(stored, size_t(entry->stored_size), content,
                                           uint64_t(entry->file_size)), 1);
            } else {
                content.assign(stored, stored + entry->stored_size);
            }
            EXPECT_EQ(content, files_[i].second) << WideToUtf8(files_[i].first);
        }
        // Directory order is by name without regard to case.
        EXPECT_EQ(dir.Entries()[0].name, L"\\Empty.bin");
        EXPECT_EQ(dir.Entries()[1].name, L"\\Game\\Data\\Big.DAT");
    }
}

TEST_F(PackFixture, LookupIgnoresCaseAndSlashDirection) {
    int64_t base = Build(kPackFlagLzma);
    PackDirectory dir;
    ASSERT_EQ(ReadDirectory(HostBytes(), base, dir), 1);
    EXPECT_NE(dir.Find(L"/game/data/big.dat"), nullptr);
    EXPECT_NE(dir.Find(L"\\GAME\\README.TXT"), nullptr);
    EXPECT_EQ(dir.Find(L"\\game\\data"), nullptr);
}

TEST_F(PackFixture, ScannerSkipsForeignChunks) {
    int64_t base = Build(0);
    std::vector<uint8_t> host = HostBytes();
    // Insert an unknown chunk before the directory: data offsets do not move.
    const char dir_id[] = "tslf";
    auto at = std::search(host.begin() + base, host.end(), dir_id, dir_id + 4);
    ASSERT_NE(at, host.end());
    std::vector<uint8_t> foreign = {'x', 't', 'r', 'a', 3, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3};
    host.insert(at, foreign.begin(), foreign.end());
    PackDirectory dir;
    ASSERT_EQ(ReadDirectory(host, base, dir), 1);
    EXPECT_EQ(dir.Entries().size(), files_.size());
}

TEST_F(PackFixture, EmptyDirectoryOpensAndFindsNothing) {
    FileHandle out = OpenFile(host_, FileMode::kWrite);
    std::string error;
    ASSERT_EQ(BuildPack(out.get(), {}, nullptr, error), 1);
    out.reset();
    PackDirectory dir;
    ASSERT_EQ(ReadDirectory(HostBytes(), 0, dir), 1);
    EXPECT_TRUE(dir.Entries().empty());
    EXPECT_EQ(dir.Find(L"\\a"), nullptr);
}

TEST_F(PackFixture, DamagedPacksAreRefusedWithoutCrashing) {
    int64_t base = Build(0, 16);
    std::vector<uint8_t> host = HostBytes();
    PackDirectory dir;
    EXPECT_EQ(ReadDirectory(host, 0, dir), 0);  // a host without a pack at that offset
    EXPECT_EQ(ReadDirectory(host, int64_t(host.size()) + 1, dir), 0);
    // Every truncation cuts the directory or a chunk short.
    for (size_t size = 0; size < host.size(); size += 97) {
        std::vector<uint8_t> cut(host.begin(), host.begin() + size);
        EXPECT_EQ(ReadDirectory(cut, base, dir), 0) << size;
    }
    // Entry fields pointing outside the pack, and an odd name length.
    const char dir_id[] = "tslf";
    size_t entries = size_t(std::search(host.begin() + base, host.end(), dir_id, dir_id + 4) -
                            host.begin()) + 12 + 4;
    struct Field {
        size_t offset;
        uint64_t value;
        int bytes;
    } fields[] = {{0, uint64_t(1) << 40, 8}, {16, uint64_t(-5), 8}, {8, 3, 8},
                  {36, 2000, 4}, {36, 9, 4}};
    for (const Field& f : fields) {
        std::vector<uint8_t> bad = host;
        for (int i = 0; i < f.bytes; ++i) bad[entries + f.offset + i] = uint8_t(f.value >> (8 * i));
        EXPECT_EQ(ReadDirectory(bad, base, dir), 0) << f.offset << " " << f.value;
    }
    std::vector<uint8_t> bad_count = host;
    bad_count[entries - 2] = 0xFF;  // millions of entries in a directory of three
    EXPECT_EQ(ReadDirectory(bad_count, base, dir), 0);
}

}  // namespace
}  // namespace velm
