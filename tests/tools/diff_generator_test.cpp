// Diffs made by the publisher, applied by the launcher's patch step.
#include "diff_generator.h"

#include "formats/diff_file.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace velm::publish
