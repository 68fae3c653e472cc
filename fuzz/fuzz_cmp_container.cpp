// A ".cmp" container as downloaded: the in-memory decode, the decode of the downloaded file
// and a stream decode fed in pieces of odd sizes must agree byte for byte, and none may
// produce more than its bound.
#include "fuzz_support.h"

#include "common/lzma_decoder.h"
#include "formats/cmp_container.h"

#include <algorithm>

namespace {

constexpr uint64_t kMaxOutput = 8u << 20;

// The stream after the extra block, handed to the decoder in_piece bytes at a time with
// out_piece bytes of room. False when the stream fails, ends early or exceeds the bound.
bool DecodeInPieces(const uint8_t* data, size_t size, size_t in_piece, size_t out_piece,
                    std::vector<uint8_t>& out) {
    out.clear();
    if (size < velm::kCmpHeaderSize) return false;
    uint8_t prefix[velm::kCmpHeaderSize];
    std::copy(data, data + velm::kCmpHeaderSize, prefix);
    uint64_t lzma_at = 0;
    if (!velm::ParseCmpPrefix(prefix, size, lzma_at)) return false;
    size_t pos = size_t(lzma_at);
    velm::LzmaHeader header;
    if (!velm::ParseLzmaHeader(data + pos, size - pos, header)) return false;
    velm::LzmaDecoder decoder;
    if (!decoder.Start(header, kMaxOutput)) return false;
    pos += velm::kLzmaHeaderSize;
    std::vector<uint8_t> room(out_piece);
    for (;;) {
        size_t give = std::min(in_piece, size - pos);
        size_t consumed = 0, produced = 0;
        velm::LzmaStep step = decoder.Decode(data + pos, give, consumed, room.data(), room.size(), produced);
        FUZZ_CHECK(consumed <= give && produced <= room.size());
        pos += consumed;
        out.insert(out.end(), room.begin(), room.begin() + long(produced));
        FUZZ_CHECK(out.size() <= kMaxOutput);
        if (step == velm::LzmaStep::kFinished) return true;
        if (step == velm::LzmaStep::kError) return false;
        if (consumed == 0 && produced == 0 && pos == size) return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::wstring source = velm_fuzz::ScratchPath("download.cmp");
    static const std::wstring destination = velm_fuzz::ScratchPath("decoded");

    std::vector<uint8_t> whole;
    const bool decoded = velm::DecodeCmp(data, size, whole, kMaxOutput);
    FUZZ_CHECK(whole.size() <= kMaxOutput);
    if (!decoded) FUZZ_CHECK(whole.empty());

    // The prefix is never read, so its first bytes can choose the piece sizes.
    const size_t in_piece = size > 0 ? size_t(data[0] % 17) + 1 : 1;
    const size_t out_piece = size > 1 ? size_t(data[1]) * 37 + 1 : 1;
    std::vector<uint8_t> pieces;
    const bool streamed = DecodeInPieces(data, size, in_piece, out_piece, pieces);
    FUZZ_CHECK(streamed == decoded);
    if (streamed) FUZZ_CHECK(pieces == whole);

    velm_fuzz::WriteBytes(source, data, size);
    const int file_result = velm::DecodeCmpFile(source, destination, kMaxOutput);
    FUZZ_CHECK(file_result == 0 || file_result == -1);
    FUZZ_CHECK((file_result == 0) == decoded);
    if (file_result == 0) FUZZ_CHECK(velm_fuzz::ReadBytes(destination) == whole);
    else FUZZ_CHECK(velm_fuzz::ReadBytes(destination).size() <= kMaxOutput);
    return 0;
}
