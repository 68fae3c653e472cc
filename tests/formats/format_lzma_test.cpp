// The encoder and the ".cmp" container, read back by the launcher's own decoder.
#include "formats/cmp_container.h"
#include "common/file_io.h"
#include "common/lzma_decoder.h"
#include "common/lzma_encoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>

namespace velm {
namespace {

std::vector<uint8_t> Sample(size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> bytes(size);
    // Half noise, half repeated text: both the literal and the match coder get work.
    for (size_t i = 0; i < size; ++i)
        bytes[i] = (i / 4096) % 2 ? uint8_t(rng()) : uint8_t("velm game data "[i % 15]);
    return bytes;
}

TEST(LzmaEncoder, RoundTripsThroughTheLauncherDecoder) {
    for (size_t size : {size_t(0), size_t(1), size_t(4095), size_t(300000)}) {
        std::vector<uint8_t> input = Sample(size, unsigned(size)), stream, output;
        ASSERT_TRUE(LzmaEncode(input.data(), input.size(), stream));
        LzmaHeader header;
        ASSERT_TRUE(ParseLzmaHeader(stream.data(), stream.size(), header));
        EXPECT_EQ(header.uncompressed_size, size);  // stored size, no end marker needed
        ASSERT_EQ(DecodeLzmaBuffer(stream.data(), stream.size(), output, size), 1) << size;
        EXPECT_EQ(output, input) << size;
    }
}

TEST(LzmaEncoder, DictionaryCoversSmallInputsOnly) {
    std::vector<uint8_t> input = Sample(5000, 1), stream;
    ASSERT_TRUE(LzmaEncode(input.data(), input.size(), stream));
    LzmaHeader header;
    ASSERT_TRUE(ParseLzmaHeader(stream.data(), stream.size(), header));
    EXPECT_EQ(header.dictionary_size, 8192u);
}

class TempFile {
public:
    explicit TempFile(const char* name)
        : path_(std::wstring(L"publish_lzma_") + std::wstring(name, name + std::strlen(name))) {}
    ~TempFile() { RemoveFile(path_); }
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
};

TEST(LzmaEncoder, FileStreamMatchesStatedSizeOrFails) {
    std::vector<uint8_t> input = Sample(200000, 7);
    TempFile source("in.bin"), target("out.bin");
    ASSERT_TRUE(WriteWholeFile(source.path(), input.data(), input.size()));
    struct Case {
        uint64_t stated;
        bool ok;
    } cases[] = {{input.size(), true}, {input.size() + 1, false}, {input.size() - 1, false}};
    for (const Case& c : cases) {
        FileHandle in = OpenFile(source.path(), FileMode::kRead);
        FileHandle out = OpenFile(target.path(), FileMode::kWrite);
        uint64_t last_progress = 0;
        bool ok = WriteCmpFile(in.get(), c.stated, out.get(), {},
                               [&](uint64_t done) { last_progress = done; });
        out.reset();
        EXPECT_EQ(ok, c.ok) << c.stated;
        if (!c.ok) continue;
        EXPECT_EQ(last_progress, input.size());
        std::vector<uint8_t> stored, output;
        ASSERT_TRUE(ReadWholeFile(target.path(), stored, 1u << 30));
        ASSERT_TRUE(DecodeCmp(stored.data(), stored.size(), output, input.size()));
        EXPECT_EQ(output, input);
    }
}

TEST(CmpContainer, DecodeRejectsDamage) {
    std::vector<uint8_t> input = Sample(20000, 3), container, output;
    ASSERT_TRUE(WriteCmp(input.data(), input.size(), container));
    EXPECT_EQ(std::string(container.begin(), container.begin() + 8), "VELMCMP1");
    ASSERT_TRUE(DecodeCmp(container.data(), container.size(), output, input.size()));
    EXPECT_EQ(output, input);
    std::vector<uint8_t> truncated(container.begin(), container.end() - 10);
    EXPECT_FALSE(DecodeCmp(truncated.data(), truncated.size(), output, input.size()));
    std::vector<uint8_t> huge_extra = container;
    huge_extra[27] = 0x7F;  // extra block longer than the container
    EXPECT_FALSE(DecodeCmp(huge_extra.data(), huge_extra.size(), output, input.size()));
    EXPECT_FALSE(DecodeCmp(container.data(), 20, output, input.size()));
    EXPECT_FALSE(DecodeCmp(container.data(), container.size(), output, input.size() - 1));
}

}  // namespace
}  // namespace velm
