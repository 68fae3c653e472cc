#pragma once
// Encoder of the stand-alone LZMA stream (5 property bytes, the uncompressed size as 8
// little-endian bytes, then the compressed data), the form that compressed downloads and
// update package entries carry. Only the publisher encodes; the launcher only decodes.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

namespace velm {

struct LzmaEncoderSettings {
    int level = 9;
    // The largest dictionary to use (0: 64 MiB). The encoder takes the smallest power of
    // two that covers the whole input, up to this: a larger one gains nothing and costs
    // memory on both sides.
    uint32_t dict_size = 0;
    int lc = 3;
    int lp = 0;
    int pb = 2;
    int fb = 64;
};

// Called now and then with the number of input bytes consumed so far.
using LzmaProgress = std::function<void(uint64_t done)>;

// Appends the whole stream for data[0..size) to out. Returns false on encoder failure.
bool LzmaEncode(const uint8_t* data, size_t size, std::vector<uint8_t>& out,
                const LzmaEncoderSettings& settings = {});

// Streams exactly size bytes from in (current position) into out (current position).
// Fails when in ends early or holds more than size bytes, or when a write fails.
bool LzmaEncodeFile(std::FILE* in, uint64_t size, std::FILE* out,
                    const LzmaEncoderSettings& settings = {},
                    const LzmaProgress& progress = nullptr);

}  // namespace velm
