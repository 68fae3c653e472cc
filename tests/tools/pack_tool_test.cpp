// The PE resource stamp and `velm-publish pack` end to end: the copy of the launcher
// names its package's offset, and the package holds the client byte for byte.
#include "pack.h"
#include "paths.h"
#include "pe_resource.h"
#include "test_client.h"

#include "common/lzma_decoder.h"
#include "common/file_io.h"
#include "download/pack_format.h"

#include <gtest/gtest.h>

namespace velm::publish {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> Load(const char* path) {
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(ReadBytes(fs::u8path(path), bytes)) << path;
    return bytes;
}

int64_t StampedValue(const std::vector<uint8_t>& image) {
    uint64_t at = 0;
    uint32_t size = 0;
    std::string error;
    EXPECT_EQ(FindPeResource(image, L"UPDATE", 211, at, size, error), 1) << error;
    int64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | image[size_t(at) + i];
    return value;
}

TEST(PeResource, StampsTheEightByteResourceInPlace) {
    std::vector<uint8_t> image = Load(VELM_PE_FIXTURE);
    EXPECT_EQ(StampedValue(image), 0);
    std::string error;
    ASSERT_EQ(StampPackageOffset(image, 0x0102030405060708, error), 1) << error;
    EXPECT_EQ(StampedValue(image), 0x0102030405060708);
    EXPECT_EQ(image.size(), Load(VELM_PE_FIXTURE).size());
}

TEST(PeResource, RefusesWhatItCannotStamp) {
    std::string error;
    std::vector<uint8_t> short_resource = Load(VELM_PE_FIXTURE_SHORT);
    EXPECT_EQ(StampPackageOffset(short_resource, 1, error), 0);
    EXPECT_NE(error.find("not 8"), std::string::npos) << error;
    std::vector<uint8_t> not_pe(4096, 'x');
    EXPECT_EQ(StampPackageOffset(not_pe, 1, error), 0);
    EXPECT_NE(error.find("not a PE"), std::string::npos) << error;
    // Cut anywhere or damaged anywhere, the image is rejected or stamped, never overrun.
    std::vector<uint8_t> image = Load(VELM_PE_FIXTURE);
    for (size_t size = 0; size < image.size(); size += 509) {
        std::vector<uint8_t> cut(image.begin(), image.begin() + long(size));
        StampPackageOffset(cut, 1, error);
    }
    uint64_t at = 0;
    uint32_t length = 0;
    ASSERT_EQ(FindPeResource(image, L"UPDATE", 211, at, length, error), 1);
    for (size_t i = 0; i < 1024 && i < image.size(); ++i) {
        std::vector<uint8_t> bad = image;
        bad[i] ^= 0xFF;
        FindPeResource(bad, L"UPDATE", 211, at, length, error);
    }
}

TEST(PackCommand, CopyOpensAtTheStampedOffsetWithEveryFile) {
    TestDir dir("pack_command");
    TestClient client(1);
    ASSERT_TRUE(client.WriteTo(dir.path() / "client"));
    for (bool store : {false, true}) {
        PackOptions options;
        options.client = dir.path() / "client";
        options.launcher = fs::u8path(VELM_PE_FIXTURE);
        options.out = dir.path() / "out" / "VelmLauncher.exe";
        options.store = store;
        options.quiet = true;
        std::string error;
        ASSERT_EQ(RunPack(options, error), 1) << error;
        std::vector<uint8_t> host;
        ASSERT_TRUE(ReadBytes(options.out, host));
        int64_t base = StampedValue(host);
        EXPECT_EQ(base, int64_t(Load(VELM_PE_FIXTURE).size()));
        FileHandle in = OpenFile(WidePath(options.out), FileMode::kRead);
        PackDirectory pack;
        ASSERT_EQ(pack.Read(in.get(), int64_t(host.size()), base, error), 1) << error;
        ASSERT_EQ(pack.Entries().size(), client.files().size());
        for (const auto& [name, bytes] : client.files()) {
            const PackEntry* entry = pack.Find(name);
            ASSERT_NE(entry, nullptr);
            const uint8_t* stored = host.data() + base + entry->data_offset;
            std::vector<uint8_t> content(stored, stored + entry->stored_size);
            if (!store) {
                ASSERT_EQ(DecodeLzmaBuffer(stored, size_t(entry->stored_size), content,
                                           bytes.size()), 1);
            }
            EXPECT_EQ(content, bytes);
        }
    }
}

TEST(PackCommand, LauncherWithoutTheResourceIsRefusedAndNothingWritten) {
    TestDir dir("pack_refused");
    TestClient client(1);
    ASSERT_TRUE(client.WriteTo(dir.path() / "client"));
    std::vector<uint8_t> not_pe(100, 'x');
    ASSERT_TRUE(WriteBytes(dir.path() / "fake.exe", not_pe.data(), not_pe.size()));
    PackOptions options;
    options.client = dir.path() / "client";
    options.launcher = dir.path() / "fake.exe";
    options.out = dir.path() / "out.exe";
    options.quiet = true;
    std::string error;
    EXPECT_EQ(RunPack(options, error), 0);
    EXPECT_FALSE(fs::exists(options.out));
    EXPECT_FALSE(fs::exists(dir.path() / "out.exe.new"));
}

}  // namespace
}  // namespace velm::publish
