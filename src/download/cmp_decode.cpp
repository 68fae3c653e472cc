#include "download/cmp_decode.h"

#include <cstdint>

#include "common/file_io.h"
#include "common/lzma_decoder.h"

namespace velm {

int DecodeCmpFile(const std::wstring& source, const std::wstring& destination, uint64_t max_output,
                  Md5* digest) {
    const int64_t size = FileSize(source);
    FileHandle in = OpenFile(source, FileMode::kRead);
    if (!in || size < 0) return -1;
    FileHandle out = OpenFile(destination, FileMode::kWrite);
    if (!out) return -1;
    uint8_t length_bytes[4];
    if (!SeekFile(in.get(), int64_t(kCmpExtraLengthOffset), SEEK_SET) ||
        std::fread(length_bytes, 1, 4, in.get()) != 4)
        return -1;
    const uint64_t extra = uint64_t(length_bytes[0]) | uint64_t(length_bytes[1]) << 8 |
                           uint64_t(length_bytes[2]) << 16 | uint64_t(length_bytes[3]) << 24;
    const uint64_t header_at = kCmpExtraLengthOffset + 4 + extra;
    if (header_at + kLzmaHeaderSize > uint64_t(size) || !SeekFile(in.get(), int64_t(header_at), SEEK_SET))
        return -1;
    auto read = [&](uint8_t* buffer, size_t want) -> int64_t {
        size_t got = std::fread(buffer, 1, want, in.get());
        return got == 0 && std::ferror(in.get()) ? -1 : int64_t(got);
    };
    auto write = [&](const uint8_t* data, size_t count) {
        if (digest) digest->Update(data, count);
        return std::fwrite(data, 1, count, out.get()) == count;
    };
    // The decoder holds the bound itself: it refuses a stored size above it and sizes its
    // window within it, instead of allocating for whatever the header claims.
    if (DecodeLzmaStream(read, write, max_output) != 1) return -1;
    if (std::fflush(out.get()) != 0) return -1;
    return 0;
}

}  // namespace velm
