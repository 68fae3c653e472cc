#include "common/md5.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/file_io.h"

namespace velm {
namespace {

struct Md5Case {
    std::string input;
    const wchar_t* hex;
};

// The test suite of RFC 1321, plus lengths around the padding boundary.
TEST(Md5, MatchesReferenceVectors) {
    const Md5Case cases[] = {
        {"", L"D41D8CD98F00B204E9800998ECF8427E"},
        {"a", L"0CC175B9C0F1B6A831C399E269772661"},
        {"abc", L"900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", L"F96B697D7CB7938D525A2F31AAF161D0"},
        {"abcdefghijklmnopqrstuvwxyz", L"C3FCD3D76192E4007DFB496CCA67E13B"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         L"57EDF4A22BE3C955AC49DA2E2107B67A"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Md5ToHex(Md5Bytes(c.input.data(), c.input.size())), c.hex) << c.input;
    }
}

// Feeding the same bytes in any split must give the digest of the whole.
TEST(Md5, IncrementalUpdatesEqualOneShot) {
    std::vector<uint8_t> data(1000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7 + 3);
    for (size_t length : {55u, 56u, 63u, 64u, 65u, 127u, 1000u}) {
        Md5Digest whole = Md5Bytes(data.data(), length);
        for (size_t split : {1u, 3u, 63u, 64u}) {
            Md5 md5;
            for (size_t at = 0; at < length; at += split)
                md5.Update(data.data() + at, std::min(split, length - at));
            EXPECT_EQ(md5.Finish(), whole) << length << "/" << split;
        }
    }
}

TEST(Md5, FileDigestEqualsBytesDigestAndMissingFileFails) {
    std::vector<uint8_t> data(3 << 20);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i ^ (i >> 9));
    const std::wstring path = L"md5_test_file.bin";
    ASSERT_TRUE(WriteWholeFile(path, data.data(), data.size()));
    Md5Digest digest{};
    ASSERT_TRUE(Md5File(path, digest));
    EXPECT_EQ(digest, Md5Bytes(data.data(), data.size()));
    RemoveFile(path);
    EXPECT_FALSE(Md5File(L"md5_test_no_such_file.bin", digest));
}

TEST(Md5, HashTextsCompareWithoutCase) {
    EXPECT_TRUE(HashTextEquals(L"0cc175b9c0f1b6a831c399e269772661", L"0CC175B9C0F1B6A831C399E269772661"));
    EXPECT_FALSE(HashTextEquals(L"0CC175B9C0F1B6A831C399E269772661", L"0CC175B9C0F1B6A831C399E26977266"));
    EXPECT_FALSE(HashTextEquals(L"0CC175B9C0F1B6A831C399E269772661", L"1CC175B9C0F1B6A831C399E269772661"));
}

}  // namespace
}  // namespace velm
