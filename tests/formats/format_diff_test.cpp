// Diff file reader, writer and the byte-level patch step.
#include "formats/diff_file.h"

#include <gtest/gtest.h>

#include <cstring>

namespace velm {
namespace {

std::vector<uint8_t> Bytes(const char* text) {
    return std::vector<uint8_t>(text, text + std::strlen(text));
}

// old "abcdefgh" -> new "abXdeYZgh": add 5 (one change), copy 2 from extra, add 2.
DiffFile SmallDiff() {
    std::vector<uint8_t> old_bytes = Bytes("abcdefgh"), new_bytes = Bytes("abXdeYZgh");
    DiffFile diff;
    diff.old_size = 8;
    diff.old_md5 = Md5Bytes(old_bytes.data(), old_bytes.size());
    diff.new_size = 9;
    diff.new_md5 = Md5Bytes(new_bytes.data(), new_bytes.size());
    diff.triples = {{5, 2, 1}, {2, 0, 0}};
    diff.diff_block = {0, 0, uint8_t('X' - 'c'), 0, 0, 0, 0};
    diff.extra_block = Bytes("YZ");
    return diff;
}

TEST(DiffFile, WriterAndReaderRoundTripAndPatch) {
    DiffFile diff = SmallDiff();
    std::vector<uint8_t> bytes = SerializeDiffFile(diff);
    ASSERT_EQ(bytes.size(), kDiffHeaderSize + 24 + 4 + 7 + 4 + 2);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "VDIF");
    DiffFile read;
    std::string error;
    ASSERT_TRUE(ParseDiffFile(bytes.data(), bytes.size(), read, error)) << error;
    EXPECT_EQ(read.new_size, 9);
    EXPECT_EQ(read.old_size, 8u);
    EXPECT_EQ(read.new_md5, diff.new_md5);
    EXPECT_EQ(read.old_md5, diff.old_md5);
    ASSERT_EQ(read.triples.size(), 2u);
    EXPECT_EQ(read.triples[0].z, 1);
    std::vector<uint8_t> old_bytes = Bytes("abcdefgh"), result;
    ASSERT_TRUE(ApplyDiff(read, old_bytes.data(), old_bytes.size(), result, error)) << error;
    EXPECT_EQ(result, Bytes("abXdeYZgh"));
}

TEST(DiffFile, ReaderRejectsEveryTruncation) {
    std::vector<uint8_t> bytes = SerializeDiffFile(SmallDiff());
    DiffFile read;
    std::string error;
    for (size_t size = 0; size < bytes.size(); ++size)
        EXPECT_FALSE(ParseDiffFile(bytes.data(), size, read, error)) << size;
    bytes.push_back(0xEE);  // trailing bytes are ignored
    EXPECT_TRUE(ParseDiffFile(bytes.data(), bytes.size(), read, error));
}

TEST(DiffFile, ReaderRejectsHostileCountsBeforeAllocating) {
    std::vector<uint8_t> bytes = SerializeDiffFile(SmallDiff());
    struct Case {
        size_t offset;
        uint32_t value;
    } cases[] = {
        {44, 0},                 // no triples
        {44, 0xFFFFFFFF},        // four billion triples in a few bytes
        {48 + 24, 0xFFFFFFF0},   // diff block length beyond the file
        {8, 0x80000000},         // negative new size
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bad = bytes;
        for (int i = 0; i < 4; ++i) bad[c.offset + i] = uint8_t(c.value >> (8 * i));
        DiffFile read;
        std::string error;
        EXPECT_FALSE(ParseDiffFile(bad.data(), bad.size(), read, error)) << c.offset;
    }
}

struct ApplyCase {
    const char* what;
    std::vector<ControlTriple> triples;
    size_t new_size;
    bool ok;
};

TEST(ApplyControlTriples, ChecksEveryBound) {
    const uint8_t old_bytes[4] = {10, 20, 30, 40};
    const uint8_t diff_block[4] = {1, 1, 1, 1};
    const uint8_t extra_block[2] = {7, 8};
    const ApplyCase cases[] = {
        {"exact", {{4, 2, 0}}, 6, true},
        {"empty result needs nothing", {}, 0, true},
        {"x past the new size", {{5, 0, 0}}, 4, false},
        {"y past the new size", {{4, 2, 0}}, 5, false},
        {"x past the diff block", {{4, 0, 0}, {1, 0, 0}}, 5, false},
        {"y past the extra block", {{0, 3, 0}}, 3, false},
        {"negative x", {{-1, 0, 0}}, 1, false},
        {"negative y", {{0, -1, 0}}, 1, false},
        {"triples run out", {{2, 0, 0}}, 4, false},
        {"old position far outside adds nothing", {{0, 0, -2000000000}, {2, 0, 0}}, 2, true},
        {"old position beyond the end adds nothing", {{0, 0, 3}, {2, 0, 0}}, 2, true},
    };
    for (const ApplyCase& c : cases) {
        std::vector<uint8_t> out(c.new_size + 1, 0xAA);
        bool ok = ApplyControlTriples(old_bytes, 4, out.data(), c.new_size, c.triples.data(),
                                      c.triples.size(), diff_block, 4, extra_block, 2);
        EXPECT_EQ(ok, c.ok) << c.what;
        EXPECT_EQ(out[c.new_size], 0xAA) << c.what << ": wrote past the new size";
    }
    std::vector<uint8_t> out(3);
    const ControlTriple straddle[] = {{0, 0, 3}, {2, 0, 0}};
    ASSERT_TRUE(ApplyControlTriples(old_bytes, 4, out.data(), 2, straddle, 2, diff_block, 4,
                                    extra_block, 2));
    EXPECT_EQ(out[0], 41);  // old byte 3 plus 1
    EXPECT_EQ(out[1], 1);   // past the old file: diff byte alone
}

TEST(DiffFile, ApplyRejectsWrongDigest) {
    DiffFile diff = SmallDiff();
    diff.new_md5[0] ^= 1;
    std::vector<uint8_t> old_bytes = Bytes("abcdefgh"), result;
    std::string error;
    EXPECT_FALSE(ApplyDiff(diff, old_bytes.data(), old_bytes.size(), result, error));
    EXPECT_NE(error.find("md5"), std::string::npos);
}

}  // namespace
}  // namespace velm
