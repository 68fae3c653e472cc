// Diffs made by the publisher, applied by the launcher's patch step.
#include "diff_generator.h"

#include "formats/cmp_container.h"
#include "formats/diff_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

namespace velm::publish {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Random(size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes bytes(size);
    for (auto& b : bytes) b = uint8_t(rng());
    return bytes;
}

Bytes Edited(Bytes bytes, unsigned seed) {
    std::mt19937 rng(seed);
    for (int i = 0; i < 20 && !bytes.empty(); ++i) {
        size_t at = rng() % bytes.size();
        switch (i % 3) {
            case 0: bytes[at] ^= 0x5A; break;
            case 1: bytes.insert(bytes.begin() + long(at), 300, uint8_t(i)); break;
            case 2: bytes.erase(bytes.begin() + long(at),
                                bytes.begin() + long(std::min(bytes.size(), at + 100))); break;
        }
    }
    return bytes;
}

struct Pair {
    const char* what;
    Bytes old_bytes;
    Bytes new_bytes;
};

TEST(MakeDiff, EveryPairPatchesToTheExactNewBytes) {
    Bytes base = Random(200000, 1);
    Bytes moved(base.begin() + 100000, base.end());
    moved.insert(moved.end(), base.begin(), base.begin() + 100000);
    const Pair pairs[] = {
        {"scattered edits", base, Edited(base, 2)},
        {"identical", base, base},
        {"blocks swapped", base, moved},
        {"unrelated", Random(5000, 3), Random(7000, 4)},
        {"from empty", {}, Random(1000, 5)},
        {"to empty", Random(1000, 6), {}},
        {"both empty", {}, {}},
        {"one byte", {1}, {2}},
        {"old shorter than a seed", Random(9, 7), Random(30, 7)},
        {"zeros", Bytes(100000, 0), Bytes(100001, 0)},
    };
    for (const Pair& p : pairs) {
        DiffFile diff;
        std::string error;
        ASSERT_TRUE(MakeDiff(p.old_bytes.data(), p.old_bytes.size(), p.new_bytes.data(),
                             p.new_bytes.size(), diff, error)) << p.what << ": " << error;
        // Through the file format, as the launcher receives it.
        Bytes file = SerializeDiffFile(diff);
        DiffFile read;
        ASSERT_TRUE(ParseDiffFile(file.data(), file.size(), read, error)) << p.what;
        Bytes result;
        ASSERT_TRUE(ApplyDiff(read, p.old_bytes.data(), p.old_bytes.size(), result, error))
            << p.what << ": " << error;
        EXPECT_EQ(result, p.new_bytes) << p.what;
        EXPECT_EQ(read.old_md5, Md5Bytes(p.old_bytes.data(), p.old_bytes.size())) << p.what;
    }
}

// Whatever the new file takes from the old one, wherever it sits there, comes from
// matches: only bytes that are really new may go into the extra block.
TEST(MakeDiff, ContentTakenFromTheOldFileComesFromMatches) {
    const Bytes base = Random(500000, 9);
    Bytes swapped(base.begin() + 123457, base.end());
    swapped.insert(swapped.end(), base.begin(), base.begin() + 123457);
    Bytes reordered;  // 64 KiB pieces of the old file in reverse order, each shifted by one
    for (size_t at = base.size(); at > 65536; at -= 65536)
        reordered.insert(reordered.end(), base.begin() + long(at - 65537), base.begin() + long(at - 1));
    const struct {
        const char* what;
        Bytes new_bytes;
        size_t most_extra;
    } cases[] = {
        {"scattered edits (about 2,400 inserted bytes)", Edited(base, 10), 20000},
        {"halves swapped", swapped, 1000},
        {"pieces reordered", reordered, 1000},
    };
    for (const auto& c : cases) {
        DiffFile diff;
        std::string error;
        ASSERT_TRUE(MakeDiff(base.data(), base.size(), c.new_bytes.data(), c.new_bytes.size(), diff, error));
        EXPECT_LE(diff.extra_block.size(), c.most_extra) << c.what;
        Bytes result;
        ASSERT_TRUE(ApplyDiff(diff, base.data(), base.size(), result, error)) << c.what;
        EXPECT_EQ(result, c.new_bytes) << c.what;
    }
}

// Compiled code after a small change: instructions with 4-byte address fields, and every
// address past the change moved by the inserted bytes.
struct CodePair {
    Bytes old_bytes;
    Bytes new_bytes;
};

CodePair ShiftedCode(size_t size, size_t insert_at, size_t inserted, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes code;
    std::vector<size_t> fields;
    while (code.size() < size) {
        for (int i = int(rng() % 6); i >= 0; --i) code.push_back(uint8_t(rng() % 16));
        fields.push_back(code.size());
        const uint32_t address = uint32_t(0x400000 + rng() % size);
        for (int i = 0; i < 4; ++i) code.push_back(uint8_t(address >> (8 * i)));
    }
    CodePair pair{code, code};
    for (size_t at : fields) {
        uint32_t address;
        std::memcpy(&address, &code[at], 4);
        if (address - 0x400000 >= insert_at) address += uint32_t(inserted);
        std::memcpy(&pair.new_bytes[at], &address, 4);
    }
    Bytes added = Random(inserted, seed + 1);
    pair.new_bytes.insert(pair.new_bytes.begin() + long(insert_at), added.begin(), added.end());
    return pair;
}

// A table of fixed-size records (a constant, an identifier, an address to the record's
// data), of which a few in the middle were removed and the addresses after them moved:
// the right alignment matches only in the 16 bytes between two addresses, too short to
// win by exact length against the wrong alignment kept from before the removal.
CodePair RecordsRemoved(size_t records, size_t removed_at, size_t removed) {
    constexpr size_t kRecord = 24;
    auto record = [](size_t r, uint64_t address) {
        Bytes bytes(kRecord, 0x5A);
        const uint64_t id = r * 0x9E3779B97F4A7C15ull;
        std::memcpy(&bytes[8], &id, 8);
        std::memcpy(&bytes[16], &address, 8);
        return bytes;
    };
    Bytes old_bytes, new_bytes;
    for (size_t r = 0; r < records; ++r) {
        const Bytes old_record = record(r, 0x100000 + r * 40);
        old_bytes.insert(old_bytes.end(), old_record.begin(), old_record.end());
        if (r >= removed_at && r < removed_at + removed) continue;
        const size_t moved = r < removed_at ? 0 : removed;
        const Bytes new_record = record(r, 0x100000 + (r - moved) * 40);
        new_bytes.insert(new_bytes.end(), new_record.begin(), new_record.end());
    }
    return {old_bytes, new_bytes};
}

// New code assembled from short pieces of the old (12 to 20 bytes each), as a new function
// reuses sequences of an old one.
CodePair ShortPieces(size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes old_bytes = Random(size, seed);
    Bytes new_bytes(old_bytes.begin(), old_bytes.begin() + long(size / 2));
    while (new_bytes.size() < size) {
        const size_t length = 12 + rng() % 9;
        const size_t from = rng() % (size - length);
        new_bytes.insert(new_bytes.end(), old_bytes.begin() + long(from),
                         old_bytes.begin() + long(from + length));
    }
    return {old_bytes, new_bytes};
}

size_t NonzeroDiffBytes(const DiffFile& diff) {
    return size_t(std::count_if(diff.diff_block.begin(), diff.diff_block.end(),
                                [](uint8_t b) { return b != 0; }));
}

// The path a player's launcher takes: the diff in its ".cmp" container as published,
// decoded, and applied as it streams in pieces, next to what the matcher must find in
// each pair so that its bytes stay few.
TEST(MakeDiff, PublishedContainersReplayThroughTheLaunchersStreamingPatch) {
    const CodePair code = ShiftedCode(300000, 120000, 57, 11);
    const CodePair records = RecordsRemoved(20000, 3000, 5);
    const CodePair pieces = ShortPieces(100000, 12);
    Bytes repeating(200000);
    for (size_t i = 0; i < repeating.size(); ++i) repeating[i] = uint8_t(i % 32 < 30 ? i % 32 : 0);
    Bytes stretched = repeating;
    stretched.insert(stretched.begin() + 100000, repeating.begin(), repeating.begin() + 64000);
    const struct {
        const char* what;
        const Bytes& old_bytes;
        const Bytes& new_bytes;
        size_t most_nonzero;  // diff bytes that are not zero
        size_t most_extra;
    } cases[] = {
        // About one address field in 11 bytes changes past the insertion, by one byte
        // (or two on a carry): the diff is those bytes, not a new alignment each time.
        {"code with shifted addresses", code.old_bytes, code.new_bytes, 30000, 2000},
        {"records removed from a table", records.old_bytes, records.new_bytes, 40000, 1000},
        {"new code from short pieces", pieces.old_bytes, pieces.new_bytes, 20000, 12000},
        {"repeating data stretched", repeating, stretched, 0, 0},
    };
    for (const auto& c : cases) {
        DiffFile diff;
        std::string error;
        ASSERT_TRUE(MakeDiff(c.old_bytes.data(), c.old_bytes.size(), c.new_bytes.data(),
                             c.new_bytes.size(), diff, error)) << c.what << ": " << error;
        EXPECT_LE(NonzeroDiffBytes(diff), c.most_nonzero) << c.what;
        EXPECT_LE(diff.extra_block.size(), c.most_extra) << c.what;
        const Bytes file = SerializeDiffFile(diff);
        Bytes container, decoded;
        ASSERT_TRUE(WriteCmp(file.data(), file.size(), container, DiffContainerSettings())) << c.what;
        ASSERT_TRUE(DecodeCmp(container.data(), container.size(), decoded, file.size())) << c.what;
        for (size_t piece : {size_t(1) << 20, size_t(4093)}) {
            DiffStreamApplier applier(c.old_bytes.data(), c.old_bytes.size(), decoded.size(),
                                      c.new_bytes.size());
            for (size_t at = 0; at < decoded.size(); at += piece)
                ASSERT_TRUE(applier.Feed(decoded.data() + at, std::min(piece, decoded.size() - at)))
                    << c.what << ": " << applier.Error();
            ASSERT_TRUE(applier.Finish()) << c.what << ": " << applier.Error();
            EXPECT_EQ(applier.Result(), c.new_bytes) << c.what << ", pieces of " << piece;
        }
    }
}

}  // namespace
}  // namespace velm::publish
