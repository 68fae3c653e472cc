// Inputs the fuzz targets once failed on. Each file keeps its target's input layout
// (docs/fuzzing.md): a 16-bit little-endian length or base offset in front.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/file_io.h"
#include "common/text.h"
#include "formats/pack_format.h"
#include "formats/diff_file.h"

namespace velm {
namespace {

std::vector<uint8_t> ReadRegression(const std::string& name) {
    const char* root = std::getenv("VELM_SOURCE_DIR");
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(ReadWholeFile(Utf8ToWide(std::string(root ? root : ".") + "/fuzz/regressions/" + name),
                              bytes, 1 << 20))
        << name;
    return bytes;
}

size_t LeadingLength(const std::vector<uint8_t>& input) {
    return input.size() < 2 ? 0 : size_t(input[0]) | size_t(input[1]) << 8;
}

// A valid diff of n bytes made only of extra-block bytes, with its declared new size
// moved by delta.
std::vector<uint8_t> ExtraOnlyDiff(size_t n, int delta) {
    DiffFile diff;
    diff.extra_block.assign(n, 0x41);
    diff.new_size = int32_t(n) + delta;
    diff.new_md5 = Md5Bytes(diff.extra_block.data(), n);
    diff.triples = {{0, int32_t(n), 0}};
    return SerializeDiffFile(diff);
}

struct DiffCase {
    const char* name;
    std::vector<uint8_t> diff;
    std::vector<uint8_t> old_data;
    bool applies;
};

// Every byte of a result comes from the diff or the extra block: a new size beyond both
// is refused before anything is allocated for it (the fuzzed file asks for 672 MiB).
TEST(FuzzRegression, DiffResultLargerThanItsBlocksIsNeverAllocated) {
    const std::vector<uint8_t> fuzzed = ReadRegression("diff_file/new_size_beyond_blocks.bin");
    ASSERT_GE(fuzzed.size(), 2 + LeadingLength(fuzzed));
    const size_t old_size = LeadingLength(fuzzed);
    const DiffCase cases[] = {
        {"fuzzed", std::vector<uint8_t>(fuzzed.begin() + 2 + long(old_size), fuzzed.end()),
         std::vector<uint8_t>(fuzzed.begin() + 2, fuzzed.begin() + 2 + long(old_size)), false},
        {"new size equal to the blocks", ExtraOnlyDiff(100, 0), {}, true},
        {"new size one beyond the blocks", ExtraOnlyDiff(100, 1), {}, false},
        {"new size near 2 GiB", ExtraOnlyDiff(100, 0x7FFFFF00), {}, false},
    };
    for (const DiffCase& c : cases) {
        DiffFile diff;
        std::string error;
        ASSERT_TRUE(ParseDiffFile(c.diff.data(), c.diff.size(), diff, error)) << c.name << ": " << error;
        std::vector<uint8_t> result;
        EXPECT_EQ(ApplyDiff(diff, c.old_data.data(), c.old_data.size(), result, error), c.applies) << c.name;
        if (c.applies) {
            EXPECT_EQ(result.size(), size_t(diff.new_size)) << c.name;
        } else {
            EXPECT_FALSE(error.empty()) << c.name;
            EXPECT_EQ(result.capacity(), 0u) << c.name;
        }
    }
}

// The fuzzed pack holds two sound entries and a third with an impossible name length:
// the pack is rejected, and the two read before the fault must not be found afterwards.
TEST(FuzzRegression, RejectedPackKeepsNoEntries) {
    const std::vector<uint8_t> fuzzed = ReadRegression("pack_directory/rejected_after_two_entries.bin");
    ASSERT_GT(fuzzed.size(), 2u);
    const std::wstring host_path = L"fuzz_regression_host.bin";
    ASSERT_TRUE(WriteWholeFile(host_path, fuzzed.data() + 2, fuzzed.size() - 2));
    FileHandle host = OpenFile(host_path, FileMode::kRead);
    ASSERT_TRUE(host);
    PackDirectory directory;
    std::string error;
    EXPECT_EQ(directory.Read(host.get(), int64_t(fuzzed.size() - 2), int64_t(LeadingLength(fuzzed)), error), 0);
    EXPECT_NE(error.find("bad entry name length"), std::string::npos) << error;
    EXPECT_TRUE(directory.Entries().empty());
    EXPECT_EQ(directory.Find(L"\\readme.txt"), nullptr);
    EXPECT_EQ(directory.DataChunkOffset(), 0);
    host.reset();
    RemoveFile(host_path);
}

}  // namespace
}  // namespace velm
