#include "formats/cmp_container.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/file_io.h"
#include "common/text.h"
#include "formats/test_streams.h"

namespace velm {
namespace {

using test::SizeField;

std::wstring TempPath(const std::string& name) {
    const char* dir = std::getenv("VELM_BINARY_DIR");
    std::string path = (dir ? std::string(dir) : std::string(".")) + "/cmp_decode_test_" + name;
#ifdef _WIN32
    std::wstring wide = L"Z:" + Utf8ToWide(path);
    for (auto& c : wide)
        if (c == L'/') c = L'\\';
    return wide;
#else
    return Utf8ToWide(path);
#endif
}

enum class Damage { kNone, kTruncate, kCorrupt, kExtraPastEnd, kHugeStoredSize, kShortHeader };

struct CmpCase {
    const char* name;
    SizeField field;
    uint32_t extra;
    Damage damage;
    int expected;
};

TEST(CmpDecode, DecodesGoodContainersAndRefusesDamagedOnes) {
    const CmpCase cases[] = {
        {"stored size", SizeField::kStored, 0, Damage::kNone, 0},
        {"end marker", SizeField::kEndMarker, 0, Damage::kNone, 0},
        {"extra block skipped", SizeField::kStored, 37, Damage::kNone, 0},
        {"truncated data", SizeField::kStored, 0, Damage::kTruncate, -1},
        {"truncated end-marker data", SizeField::kEndMarker, 0, Damage::kTruncate, -1},
        {"corrupt data", SizeField::kEndMarker, 0, Damage::kCorrupt, -1},
        {"extra block beyond the file", SizeField::kStored, 0, Damage::kExtraPastEnd, -1},
        {"header claims terabytes", SizeField::kStored, 0, Damage::kHugeStoredSize, -1},
        {"shorter than its header", SizeField::kStored, 0, Damage::kShortHeader, -1},
    };
    const std::vector<uint8_t> data = test::SampleData(400000);
    for (const CmpCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> cmp = test::MakeCmp(data, c.field, c.extra);
        const size_t header_at = 28 + c.extra;
        switch (c.damage) {
            case Damage::kNone: break;
            case Damage::kTruncate: cmp.resize(cmp.size() * 2 / 3); break;
            case Damage::kCorrupt:
                for (size_t i = cmp.size() / 2; i < cmp.size() / 2 + 64; ++i) cmp[i] = uint8_t(~cmp[i]);
                break;
            case Damage::kExtraPastEnd:
                cmp[24] = 0xF0; cmp[25] = 0xFF; cmp[26] = 0xFF; cmp[27] = 0xFF;
                break;
            case Damage::kHugeStoredSize: cmp[header_at + 5 + 5] = 0x04; break;
            case Damage::kShortHeader: cmp.resize(header_at + 7); break;
        }
        const std::wstring source = TempPath("in.cmp");
        const std::wstring destination = TempPath("out.bin");
        ASSERT_TRUE(WriteWholeFile(source, cmp.data(), cmp.size()));
        Md5 digest;
        const auto hash = [&digest](const uint8_t* block, size_t size) {
            digest.Update(block, size);
            return true;
        };
        EXPECT_EQ(DecodeCmpFile(source, destination, kMaxCmpDecodedBytes, hash), c.expected);
        if (c.expected == 0) {
            std::vector<uint8_t> out;
            ASSERT_TRUE(ReadWholeFile(destination, out, data.size() + 1));
            EXPECT_TRUE(out == data);
            EXPECT_EQ(Md5ToHex(digest.Finish()), Md5ToHex(Md5Bytes(data.data(), data.size())));
        }
        RemoveFile(source);
        RemoveFile(destination);
    }
}

TEST(CmpDecode, OutputBeyondTheLimitFailsWhateverTheHeaderSays) {
    const std::vector<uint8_t> data = test::SampleData(300000);
    for (SizeField field : {SizeField::kStored, SizeField::kEndMarker}) {
        const std::vector<uint8_t> cmp = test::MakeCmp(data, field);
        const std::wstring source = TempPath("limit.cmp");
        const std::wstring destination = TempPath("limit.bin");
        ASSERT_TRUE(WriteWholeFile(source, cmp.data(), cmp.size()));
        EXPECT_EQ(DecodeCmpFile(source, destination, data.size()), 0);
        EXPECT_EQ(DecodeCmpFile(source, destination, data.size() - 1), -1);
        EXPECT_LE(FileSize(destination), int64_t(data.size() - 1));
        RemoveFile(source);
        RemoveFile(destination);
    }
}

TEST(CmpDecode, MissingSourceFails) {
    EXPECT_EQ(DecodeCmpFile(TempPath("absent.cmp"), TempPath("absent.bin")), -1);
}

}  // namespace
}  // namespace velm
