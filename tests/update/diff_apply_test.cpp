// Applying a diff file to an installed file on disk: only a result with the digest the
// diff carries replaces the file; every other outcome leaves it as it was.
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

TEST(ApplyDiffFile, WritesOnlyAVerifiedResult) {
    const std::vector<uint8_t> old_data = Bytes("hello world, version one");
    const std::vector<uint8_t> new_data = Bytes("hello velm!, version two.");
    using DamageDiff = void (*)(DiffFile&);
    using DamageBytes = void (*)(std::vector<uint8_t>&);
    struct Case {
        const char* name;
        DamageDiff damage_diff;
        DamageBytes damage_bytes;
        bool applied;
        bool stamped;  // the file's times set to now
    } cases[] = {
        {"good", nullptr, nullptr, true, false},
        {"wrong_digest", [](DiffFile& d) { d.new_md5[3] ^= 1; }, nullptr, false, true},
        {"triple_past_new_size", [](DiffFile& d) { d.triples[0].x += 1; }, nullptr, false, false},
        {"new_size_beyond_blocks",
         [](DiffFile& d) {
             d.new_size = 0x7FFFFFF0;
             d.triples[0].y = 0x7FFFFFF0 - d.triples[0].x;
         },
         nullptr, false, false},
        {"negative_copy", [](DiffFile& d) { d.triples[0].y = -1; }, nullptr, false, false},
        {"truncated", nullptr, [](std::vector<uint8_t>& b) { b.resize(b.size() - 3); }, false, false},
        {"no_triples", nullptr, [](std::vector<uint8_t>& b) { b[44] = b[45] = b[46] = b[47] = 0; }, false, false},
    };
    Installation folder("apply_diff", 0);
    const std::wstring target = folder.File(L"\\file.bin");
    const std::wstring diff_path = target + L".diff.0";
    const uint64_t old_time = 130000000000000000ull;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteWholeFile(target, old_data.data(), old_data.size()));
        ASSERT_TRUE(SetFileWriteTime(target, old_time));
        DiffFile diff = DiffBetween(old_data, new_data);
        if (c.damage_diff) c.damage_diff(diff);
        std::vector<uint8_t> bytes = SerializeDiffFile(diff);
        if (c.damage_bytes) c.damage_bytes(bytes);
        ASSERT_TRUE(WriteWholeFile(diff_path, bytes.data(), bytes.size()));

        EXPECT_EQ(ApplyDiffFile(target, target, diff_path), c.applied);
        std::vector<uint8_t> now;
        ASSERT_TRUE(ReadWholeFile(target, now, 1 << 20));
        EXPECT_EQ(now, c.applied ? new_data : old_data);
        uint64_t time = 0;
        ASSERT_TRUE(FileWriteTime(target, time));
        if (!c.applied) {
            EXPECT_EQ(time != old_time, c.stamped);
        }
        EXPECT_FALSE(FileExists(target + L".patched"));
    }
}

TEST(ApplyDiffFile, EmptyResultAndMissingFiles) {
    Installation folder("apply_diff_edges", 0);
    const std::wstring target = folder.File(L"\\file.bin");
    const std::vector<uint8_t> old_data = Bytes("something");
    ASSERT_TRUE(WriteWholeFile(target, old_data.data(), old_data.size()));
    DiffFile empty = DiffBetween(old_data, {});
    empty.triples = {{0, 0, 0}};
    std::vector<uint8_t> bytes = SerializeDiffFile(empty);
    ASSERT_TRUE(WriteWholeFile(target + L".diff.0", bytes.data(), bytes.size()));
    EXPECT_TRUE(ApplyDiffFile(target, target, target + L".diff.0"));
    EXPECT_EQ(FileSize(target), 0);

    LogCapture log("apply_diff_edges");
    EXPECT_FALSE(ApplyDiffFile(target, target, target + L".diff.9"));
    EXPECT_EQ(log.Count(L"CreateFile " + target + L".diff.9 Failed."), 1);
    EXPECT_FALSE(ApplyDiffFile(folder.File(L"\\gone.bin"), folder.File(L"\\gone.bin"), target + L".diff.0"));
    EXPECT_EQ(log.Count(L"CreateFile " + folder.File(L"\\gone.bin") + L" Failed."), 1);
}

}  // namespace
}  // namespace velm::test
