// The steps of patching an installed file: a diff gives a result only when it is whole,
// consistent, of the digest it carries and no larger than the listed size; a result is
// written over the file whole or not at all.
#include <gtest/gtest.h>

#include "common/file_io.h"
#include "common/file_system.h"
#include "common/md5.h"
#include "update/diff_apply_win32.h"
#include "formats/diff_file.h"
#include "update_fixture_win32.h"

namespace velm::test {
namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

// One triple that adds the whole diff block to the old bytes.
DiffFile DiffBetween(const std::vector<uint8_t>& old_data, const std::vector<uint8_t>& new_data) {
    DiffFile diff;
    diff.new_size = int32_t(new_data.size());
    diff.new_md5 = Md5Bytes(new_data.data(), new_data.size());
    for (size_t i = 0; i < new_data.size(); ++i)
        diff.diff_block.push_back(uint8_t(new_data[i] - (i < old_data.size() ? old_data[i] : 0)));
    diff.triples.push_back({int32_t(new_data.size()), 0, 0});
    return diff;
}

TEST(ApplyDiffFile, GivesOnlyAVerifiedResultOfAtMostTheListedSize) {
    const std::vector<uint8_t> old_data = Bytes("hello world, version one");
    const std::vector<uint8_t> new_data = Bytes("hello velm!, version two.");
    using DamageDiff = void (*)(DiffFile&);
    using DamageBytes = void (*)(std::vector<uint8_t>&);
    struct Case {
        const char* name;
        DamageDiff damage_diff;
        DamageBytes damage_bytes;
        uint64_t max_result;  // what the list says the result may be at most
        DWORD error;          // 0 when the result is given
    } cases[] = {
        {"good", nullptr, nullptr, 25, 0},
        {"no_listed_size", nullptr, nullptr, kMaxPatchedFileBytes, 0},
        {"larger_than_listed", nullptr, nullptr, 24, ERROR_INVALID_DATA},
        {"wrong_digest", [](DiffFile& d) { d.new_md5[3] ^= 1; }, nullptr, 25, ERROR_CRC},
        {"triple_past_new_size", [](DiffFile& d) { d.triples[0].x += 1; }, nullptr, 25, ERROR_INVALID_DATA},
        {"new_size_beyond_blocks",
         [](DiffFile& d) {
             d.new_size = 0x7FFFFFF0;
             d.triples[0].y = 0x7FFFFFF0 - d.triples[0].x;
         },
         nullptr, kMaxPatchedFileBytes, ERROR_INVALID_DATA},
        {"negative_copy", [](DiffFile& d) { d.triples[0].y = -1; }, nullptr, 25, ERROR_INVALID_DATA},
        {"truncated", nullptr, [](std::vector<uint8_t>& b) { b.resize(b.size() - 3); }, 25, ERROR_INVALID_DATA},
        {"no_triples", nullptr, [](std::vector<uint8_t>& b) { b[44] = b[45] = b[46] = b[47] = 0; }, 25,
         ERROR_INVALID_DATA},
    };
    Installation folder("apply_diff", 0);
    const std::wstring diff_path = folder.File(L"\\file.bin.diff.0");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DiffFile diff = DiffBetween(old_data, new_data);
        if (c.damage_diff) c.damage_diff(diff);
        std::vector<uint8_t> bytes = SerializeDiffFile(diff);
        if (c.damage_bytes) c.damage_bytes(bytes);
        ASSERT_TRUE(WriteWholeFile(diff_path, bytes.data(), bytes.size()));

        std::vector<uint8_t> result = Bytes("untouched");
        const bool applied = ApplyDiffFile(old_data, diff_path, c.max_result, result);
        EXPECT_EQ(applied, c.error == 0);
        if (applied) {
            EXPECT_EQ(result, new_data);
        } else {
            EXPECT_EQ(GetLastError(), c.error);
            EXPECT_EQ(result, Bytes("untouched"));
        }
    }
}

// A patched result goes over the file whole or not at all, and nothing is left beside it.
TEST(ApplyDiffFile, ResultReplacesTheFileWholeAndMissingFilesAreNamed) {
    Installation folder("apply_diff_edges", 0);
    const std::wstring target = folder.File(L"\\file.bin");
    const std::vector<uint8_t> old_data = Bytes("something");
    ASSERT_TRUE(WriteWholeFile(target, old_data.data(), old_data.size()));
    std::vector<uint8_t> read;
    ASSERT_TRUE(ReadPatchSource(target, read));
    EXPECT_EQ(read, old_data);
    DiffFile empty = DiffBetween(old_data, {});
    empty.triples = {{0, 0, 0}};
    std::vector<uint8_t> bytes = SerializeDiffFile(empty);
    ASSERT_TRUE(WriteWholeFile(target + L".diff.0", bytes.data(), bytes.size()));
    std::vector<uint8_t> result = Bytes("x");
    ASSERT_TRUE(ApplyDiffFile(read, target + L".diff.0", kMaxPatchedFileBytes, result));
    EXPECT_TRUE(result.empty());
    ASSERT_TRUE(WritePatchedFile(target, result));
    EXPECT_EQ(FileSize(target), 0);
    EXPECT_FALSE(FileExists(target + L".patched"));

    // A folder where the file should go: the write fails and leaves nothing beside it.
    const std::wstring folder_target = folder.File(L"\\a_folder");
    ASSERT_TRUE(CreateDirectoryW(folder_target.c_str(), nullptr));
    EXPECT_FALSE(WritePatchedFile(folder_target, old_data));
    EXPECT_FALSE(FileExists(folder_target + L".patched"));

    LogCapture log("apply_diff_edges");
    EXPECT_FALSE(ApplyDiffFile(read, target + L".diff.9", kMaxPatchedFileBytes, result));
    EXPECT_EQ(log.Count(L"CreateFile " + target + L".diff.9 Failed."), 1);
    EXPECT_FALSE(ReadPatchSource(folder.File(L"\\gone.bin"), read));
    EXPECT_EQ(log.Count(L"CreateFile " + folder.File(L"\\gone.bin") + L" Failed."), 1);
}

}  // namespace
}  // namespace velm::test
