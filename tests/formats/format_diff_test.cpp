// Diff file reader, writer and the byte-level patch step.
#include "formats/diff_file.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// The streaming applier must accept and refuse exactly what ParseDiffFile and ApplyDiff
// do, and make the same result, however the diff is cut into pieces.
TEST(DiffStreamApplier, AgreesWithTheWholeDiffPathInPiecesOfAnySize) {
    const std::vector<uint8_t> old_bytes = Bytes("abcdefgh");
    struct Case {
        const char* what;
        size_t offset;   // where value overwrites the serialised small diff (0: untouched)
        uint32_t value;
        size_t cut;      // bytes dropped from the end
    } cases[] = {
        {"intact", 0, 0, 0},
        {"truncated in the header", 0, 0, 50},
        {"truncated in the triples", 0, 0, 30},
        {"truncated in the diff block", 0, 0, 8},
        {"truncated in the extra block", 0, 0, 1},
        {"no triples", 44, 0, 0},
        {"four billion triples", 44, 0xFFFFFFFF, 0},
        {"negative new size", 8, 0x80000000, 0},
        {"new size beyond the triples", 8, 10, 0},
        {"new size reached early", 8, 7, 0},
        {"negative x", 48, 0xFFFFFFFF, 0},
        {"negative y", 52, 0xFFFFFFFF, 0},
        {"old position moved far back", 56, 0x80000000, 0},
        {"diff block shorter than the triples", 48 + 24, 6, 0},
        {"diff block length beyond the file", 48 + 24, 0xFFFFFFF0, 0},
        {"extra block shorter than the triples", 48 + 24 + 4 + 7, 1, 0},
        {"wrong digest", 28, 0x01020304, 0},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = SerializeDiffFile(SmallDiff());
        if (c.offset)
            for (int i = 0; i < 4; ++i) bytes[c.offset + i] = uint8_t(c.value >> (8 * i));
        bytes.resize(bytes.size() - c.cut);
        if (c.cut == 0) bytes.push_back(0xEE);  // trailing bytes are ignored by both
        DiffFile parsed;
        std::string error;
        std::vector<uint8_t> expected;
        const bool whole = ParseDiffFile(bytes.data(), bytes.size(), parsed, error) &&
                           ApplyDiff(parsed, old_bytes.data(), old_bytes.size(), expected, error);
        for (size_t piece : {size_t(1), size_t(5), size_t(13), bytes.size()}) {
            DiffStreamApplier applier(old_bytes.data(), old_bytes.size(), bytes.size());
            bool fed = true;
            for (size_t at = 0; fed && at < bytes.size(); at += piece)
                fed = applier.Feed(bytes.data() + at, std::min(piece, bytes.size() - at));
            const bool streamed = fed && applier.Finish();
            EXPECT_EQ(streamed, whole) << c.what << ", pieces of " << piece << ": " << applier.Error();
            if (streamed && whole) EXPECT_EQ(applier.Result(), expected) << c.what;
            EXPECT_EQ(applier.DigestMismatch(), !whole && error.find("md5") != std::string::npos) << c.what;
        }
    }
}

TEST(DiffStreamApplier, RefusesANewSizeTheFedBytesCannotMakeBeforeAllocating) {
    DiffFile diff = SmallDiff();
    diff.new_size = 0x7FFFFF00;
    diff.triples = {{0, 0x7FFFFF00, 0}};
    std::vector<uint8_t> bytes = SerializeDiffFile(diff);
    const std::vector<uint8_t> old_bytes = Bytes("abcdefgh");
    DiffStreamApplier applier(old_bytes.data(), old_bytes.size(), bytes.size());
    EXPECT_FALSE(applier.Feed(bytes.data(), kDiffHeaderSize + 12));
    EXPECT_TRUE(applier.Result().empty());
    EXPECT_NE(applier.Error().find("do not fit"), std::string::npos);
}

}  // namespace
}  // namespace velm
