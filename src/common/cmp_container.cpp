#include "common/cmp_container.h"

#include "common/lzma_decoder.h"

#include <cstring>

namespace velm {

const char kCmpMagic[8] = {'V', 'E', 'L', 'M', 'C', 'M', 'P', '1'};

namespace {

void PutU64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}

void MakeHeader(uint64_t size, uint8_t* header) {
    std::memset(header, 0, kCmpHeaderSize);
    std::memcpy(header, kCmpMagic, sizeof kCmpMagic);
    PutU64(header + 8, size);
}

}  // namespace

bool WriteCmp(const uint8_t* data, size_t size, std::vector<uint8_t>& out,
              const LzmaEncoderSettings& settings) {
    uint8_t header[kCmpHeaderSize];
    MakeHeader(size, header);
    out.insert(out.end(), header, header + kCmpHeaderSize);
    return LzmaEncode(data, size, out, settings);
}

bool WriteCmpFile(std::FILE* in, uint64_t size, std::FILE* out,
                  const LzmaEncoderSettings& settings, const LzmaProgress& progress) {
    uint8_t header[kCmpHeaderSize];
    MakeHeader(size, header);
    return std::fwrite(header, 1, kCmpHeaderSize, out) == kCmpHeaderSize &&
           LzmaEncodeFile(in, size, out, settings, progress);
}

bool DecodeCmp(const uint8_t* bytes, size_t size, std::vector<uint8_t>& out,
               uint64_t max_output) {
    if (size < kCmpHeaderSize) return false;
    uint64_t extra = uint64_t(bytes[24]) | uint64_t(bytes[25]) << 8 | uint64_t(bytes[26]) << 16 |
                     uint64_t(bytes[27]) << 24;
    if (extra > size - kCmpHeaderSize) return false;
    size_t start = kCmpHeaderSize + size_t(extra);
    return DecodeLzmaBuffer(bytes + start, size - start, out, max_output) == 1;
}

}  // namespace velm
