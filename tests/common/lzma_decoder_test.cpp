#include "common/lzma_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "formats/test_streams.h"

namespace velm {
namespace {

using test::EncodeLzma;
using test::SampleData;
using test::SizeField;

void SetDictionary(std::vector<uint8_t>& stream, uint32_t dictionary) {
    for (int i = 0; i < 4; ++i) stream[1 + i] = uint8_t(dictionary >> (8 * i));
}

void SetSize(std::vector<uint8_t>& stream, uint64_t size) {
    for (int i = 0; i < 8; ++i) stream[5 + i] = uint8_t(size >> (8 * i));
}

struct RoundTripCase {
    size_t size;
    SizeField field;
};

class LzmaRoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(LzmaRoundTrip, DecodesWhatTheEncoderWrote) {
    std::vector<uint8_t> data = SampleData(GetParam().size);
    std::vector<uint8_t> stream = EncodeLzma(data, GetParam().field);
    std::vector<uint8_t> out;
    ASSERT_EQ(DecodeLzmaBuffer(stream.data(), stream.size(), out, kLzmaUnbounded), 1);
    EXPECT_TRUE(out == data);
    // The exact size is an acceptable bound; one byte less is not.
    ASSERT_EQ(DecodeLzmaBuffer(stream.data(), stream.size(), out, data.size()), 1);
    if (!data.empty()) {
        EXPECT_EQ(DecodeLzmaBuffer(stream.data(), stream.size(), out, data.size() - 1), 0);
        EXPECT_TRUE(out.empty());
    }
}

// Sizes around the 64 KiB decode step and more than one dictionary window apart.
INSTANTIATE_TEST_SUITE_P(
    Sizes, LzmaRoundTrip,
    testing::Values(RoundTripCase{0, SizeField::kStored}, RoundTripCase{0, SizeField::kEndMarker},
                    RoundTripCase{1, SizeField::kStored}, RoundTripCase{1, SizeField::kEndMarker},
                    RoundTripCase{65535, SizeField::kStored},
                    RoundTripCase{65536, SizeField::kEndMarker},
                    RoundTripCase{65537, SizeField::kStoredAndMarker},
                    RoundTripCase{3 * 1024 * 1024 + 17, SizeField::kStored},
                    RoundTripCase{3 * 1024 * 1024 + 17, SizeField::kEndMarker}));

TEST(LzmaDecoder, CutStreamsFailAtEveryLength) {
    std::vector<uint8_t> data = SampleData(200000);
    for (SizeField field : {SizeField::kStored, SizeField::kEndMarker}) {
        std::vector<uint8_t> stream = EncodeLzma(data, field);
        for (size_t keep : {size_t(0), size_t(5), size_t(12), size_t(13), size_t(14),
                            stream.size() / 2, stream.size() - 1}) {
            std::vector<uint8_t> out;
            EXPECT_EQ(DecodeLzmaBuffer(stream.data(), keep, out, kLzmaUnbounded), 0)
                << "kept " << keep << " of " << stream.size();
        }
    }
}

TEST(LzmaDecoder, CorruptDataNeverPassesAsTheOriginal) {
    std::vector<uint8_t> data = SampleData(300000);
    std::vector<uint8_t> stream = EncodeLzma(data, SizeField::kEndMarker);
    for (size_t at : {size_t(20), stream.size() / 3, stream.size() / 2, stream.size() - 8}) {
        std::vector<uint8_t> bad = stream;
        for (size_t i = at; i < at + 8 && i < bad.size(); ++i) bad[i] ^= 0x5A;
        std::vector<uint8_t> out;
        int result = DecodeLzmaBuffer(bad.data(), bad.size(), out, 4 * data.size());
        EXPECT_FALSE(result == 1 && out == data) << "corrupted at " << at;
        EXPECT_LE(out.size(), 4 * data.size());
    }
}

struct HeaderCase {
    const char* name;
    uint8_t property_byte;
    uint32_t dictionary;
    uint64_t stored_size;  // kLzmaUnknownSize keeps the end-marker form
    uint64_t max_output;
    int expected;
};

// Headers are untrusted: none of these may allocate what it claims.
TEST(LzmaDecoder, HeaderClaimsAreBoundedBeforeAllocation) {
    const uint64_t terabytes = uint64_t(4) << 40;
    const HeaderCase cases[] = {
        {"4 GiB dictionary, end marker", 0x5D, 0xFFFFFFFFu, kLzmaUnknownSize, kLzmaUnbounded, 0},
        {"4 GiB dictionary, end marker, caller's bound", 0x5D, 0xFFFFFFFFu, kLzmaUnknownSize, 1000, 1},
        {"4 GiB dictionary, small stored size", 0x5D, 0xFFFFFFFFu, 1000, kLzmaUnbounded, 1},
        {"terabytes stored, data ends early", 0x5D, 1 << 20, terabytes, kLzmaUnbounded, 0},
        {"stored size over the caller's bound", 0x5D, 1 << 20, 1000, 999, 0},
        {"invalid lc/lp/pb byte", 225, 1 << 20, 1000, kLzmaUnbounded, 0},
    };
    std::vector<uint8_t> data = SampleData(1000);
    for (const HeaderCase& c : cases) {
        std::vector<uint8_t> stream = EncodeLzma(
            data, c.stored_size == kLzmaUnknownSize ? SizeField::kEndMarker : SizeField::kStored);
        stream[0] = c.property_byte;
        SetDictionary(stream, c.dictionary);
        SetSize(stream, c.stored_size);
        std::vector<uint8_t> out;
        EXPECT_EQ(DecodeLzmaBuffer(stream.data(), stream.size(), out, c.max_output), c.expected)
            << c.name;
        if (c.expected == 1) {
            EXPECT_TRUE(out == data) << c.name;
        }
    }
}

TEST(LzmaDecoder, StreamsInTinyPiecesOfInputAndOutput) {
    std::vector<uint8_t> data = SampleData(150000);
    std::vector<uint8_t> stream = EncodeLzma(data, SizeField::kEndMarker);
    LzmaHeader header;
    ASSERT_TRUE(ParseLzmaHeader(stream.data(), stream.size(), header));
    EXPECT_EQ(header.uncompressed_size, kLzmaUnknownSize);
    LzmaDecoder decoder;
    ASSERT_TRUE(decoder.Start(header));
    std::vector<uint8_t> out;
    size_t pos = kLzmaHeaderSize;
    LzmaStep step = LzmaStep::kContinue;
    uint8_t piece[7];
    while (step == LzmaStep::kContinue) {
        size_t consumed = 0, produced = 0;
        step = decoder.Decode(stream.data() + pos, std::min<size_t>(3, stream.size() - pos),
                              consumed, piece, sizeof(piece), produced);
        pos += consumed;
        out.insert(out.end(), piece, piece + produced);
        ASSERT_TRUE(consumed > 0 || produced > 0 || step != LzmaStep::kContinue);
    }
    EXPECT_EQ(step, LzmaStep::kFinished);
    EXPECT_EQ(pos, stream.size());
    EXPECT_TRUE(out == data);
    EXPECT_EQ(decoder.Produced(), data.size());
}

TEST(LzmaDecoder, FailedReadOrWriteFailsTheDecode) {
    std::vector<uint8_t> data = SampleData(200000);
    std::vector<uint8_t> stream = EncodeLzma(data, SizeField::kStored);
    size_t offset = 0;
    auto read = [&](uint8_t* buffer, size_t want) -> int64_t {
        if (offset > stream.size() / 2) return -1;
        size_t take = std::min(want, stream.size() - offset);
        std::memcpy(buffer, stream.data() + offset, take);
        offset += take;
        return int64_t(take);
    };
    size_t written = 0;
    auto write = [&](const uint8_t*, size_t count) {
        written += count;
        return true;
    };
    EXPECT_EQ(DecodeLzmaStream(read, write), 0);
    offset = 0;
    int writes = 0;
    auto refuse_second = [&](const uint8_t*, size_t) { return ++writes < 2; };
    auto read_all = [&](uint8_t* buffer, size_t want) -> int64_t {
        size_t take = std::min(want, stream.size() - offset);
        std::memcpy(buffer, stream.data() + offset, take);
        offset += take;
        return int64_t(take);
    };
    EXPECT_EQ(DecodeLzmaStream(read_all, refuse_second), 0);
    EXPECT_EQ(writes, 2);
}

}  // namespace
}  // namespace velm
