#include "formats/cmp_container.h"

#include <cstring>

#include "common/file_io.h"
#include "common/lzma_decoder.h"

namespace velm {

const char kCmpMagic[8] = {'V', 'E', 'L', 'M', 'C', 'M', 'P', '1'};

namespace {

void PutU64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}

void MakeHeader(uint64_t size, uint8_t (&header)[kCmpHeaderSize]) {
    std::memset(header, 0, kCmpHeaderSize);
    std::memcpy(header, kCmpMagic, sizeof kCmpMagic);
    PutU64(header + 8, size);
}

}  // namespace

bool ParseCmpPrefix(const uint8_t (&header)[kCmpHeaderSize], uint64_t container_size,
                    uint64_t& lzma_at) {
    const uint8_t* length = header + kCmpPrefixSize;
    const uint64_t extra = uint64_t(length[0]) | uint64_t(length[1]) << 8 |
                           uint64_t(length[2]) << 16 | uint64_t(length[3]) << 24;
    if (container_size < kCmpHeaderSize || extra > container_size - kCmpHeaderSize) return false;
    lzma_at = kCmpHeaderSize + extra;
    return true;
}

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

uint64_t CmpDeclaredSize(const uint8_t (&header)[kCmpHeaderSize]) {
    if (std::memcmp(header, kCmpMagic, sizeof kCmpMagic) != 0) return kCmpNoDeclaredSize;
    uint64_t declared = 0;
    for (int i = 0; i < 8; ++i) declared |= uint64_t(header[8 + i]) << (8 * i);
    return declared;
}

bool DecodeCmp(const uint8_t* bytes, size_t size, std::vector<uint8_t>& out,
               uint64_t max_output) {
    if (size < kCmpHeaderSize) return false;
    uint8_t header[kCmpHeaderSize];
    std::memcpy(header, bytes, kCmpHeaderSize);
    uint64_t start = 0;
    if (!ParseCmpPrefix(header, size, start)) return false;
    return DecodeLzmaBuffer(bytes + start, size - size_t(start), out, max_output) == 1;
}

int DecodeCmpFile(const std::wstring& source, const std::wstring& destination, uint64_t max_output,
                  const DecodedBlockFn& take) {
    const int64_t size = FileSize(source);
    FileHandle in = OpenFile(source, FileMode::kRead);
    if (!in || size < 0) return -1;
    FileHandle out = OpenFile(destination, FileMode::kWrite);
    if (!out) return -1;
    uint8_t header[kCmpHeaderSize];
    uint64_t header_at = 0;
    if (std::fread(header, 1, kCmpHeaderSize, in.get()) != kCmpHeaderSize ||
        !ParseCmpPrefix(header, uint64_t(size), header_at))
        return -1;
    if (header_at + kLzmaHeaderSize > uint64_t(size) || !SeekFile(in.get(), int64_t(header_at), SEEK_SET))
        return -1;
    auto read = [&](uint8_t* buffer, size_t want) -> int64_t {
        size_t got = std::fread(buffer, 1, want, in.get());
        return got == 0 && std::ferror(in.get()) ? -1 : int64_t(got);
    };
    auto write = [&](const uint8_t* data, size_t count) {
        if (take && !take(data, count)) return false;
        return std::fwrite(data, 1, count, out.get()) == count;
    };
    // The decoder holds the bound itself: it refuses a stored size above it and sizes its
    // window within it, instead of allocating for whatever the header claims.
    if (DecodeLzmaStream(read, write, max_output) != 1) return -1;
    if (std::fflush(out.get()) != 0) return -1;
    return 0;
}

}  // namespace velm
