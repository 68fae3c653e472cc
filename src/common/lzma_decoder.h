#pragma once
// Decoder of the stand-alone LZMA stream, the container of ".cmp" downloads and of
// compressed package entries:
//
//   offset 0   5 bytes   properties: lc/lp/pb byte, dictionary size (32-bit LE)
//   offset 5   8 bytes   uncompressed size (64-bit LE); all ones = not stored, the
//                        stream then ends with the end marker
//   offset 13  ...       compressed data
//
// The stream is untrusted: memory use is bounded by kLzmaMaxDictionary whatever the
// header claims, and output beyond the caller's bound is refused, never produced.
// Not thread-safe; one object per stream.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace velm {

constexpr size_t kLzmaHeaderSize = 13;
constexpr uint64_t kLzmaUnknownSize = ~uint64_t(0);
// Larger dictionaries than any of our encoders writes; a header asking for more is refused
// rather than allocated (only matters when no smaller uncompressed size is stored).
constexpr uint32_t kLzmaMaxDictionary = 256u << 20;
constexpr uint64_t kLzmaUnbounded = ~uint64_t(0);

struct LzmaHeader {
    uint8_t properties[5] = {};
    uint32_t dictionary_size = 0;
    uint64_t uncompressed_size = kLzmaUnknownSize;  // kLzmaUnknownSize: end marker required
};

// Reads the 13-byte header; false when it is short or its lc/lp/pb byte is invalid.
bool ParseLzmaHeader(const uint8_t* data, size_t size, LzmaHeader& header);

enum class LzmaStep {
    kError = -1,     // corrupt data, output beyond the bound, or a refused header
    kContinue = 0,   // call again with more input or more output room
    kFinished = 1,   // the stored size was produced, or the end marker was read
};

class LzmaDecoder {
public:
    LzmaDecoder();
    ~LzmaDecoder();
    LzmaDecoder(const LzmaDecoder&) = delete;
    LzmaDecoder& operator=(const LzmaDecoder&) = delete;

    // Prepares for a stream with this header. The dictionary is never larger than the
    // stored size or max_output. False when it cannot be bounded (unknown size, no
    // max_output and a dictionary over kLzmaMaxDictionary), the stored size exceeds
    // max_output, or memory is short.
    bool Start(const LzmaHeader& header, uint64_t max_output = kLzmaUnbounded);

    // Decodes from in into out. consumed and produced report what was used. Input that
    // ends before kFinished is the caller's to treat as truncation.
    LzmaStep Decode(const uint8_t* in, size_t in_size, size_t& consumed, uint8_t* out,
                    size_t out_size, size_t& produced);

    uint64_t Produced() const { return produced_; }

private:
    struct State;
    std::unique_ptr<State> state_;
    uint64_t expected_ = kLzmaUnknownSize;
    uint64_t max_output_ = kLzmaUnbounded;
    uint64_t produced_ = 0;
    bool finished_ = false;
    bool failed_ = true;
};

// Pull and push ends of a whole-stream decode. read returns the bytes read (0 at the end,
// negative on error); write returns false when it could not take everything.
using LzmaReadFn = std::function<int64_t(uint8_t* buffer, size_t size)>;
using LzmaWriteFn = std::function<bool(const uint8_t* data, size_t size)>;

// Reads the header and the stream through read in 64 KiB steps and hands every decoded
// step of up to 64 KiB to write. Returns 1 on success, 0 on any failure: bad header,
// corrupt data, input that ends early, a failed read or write, output over max_output.
int DecodeLzmaStream(const LzmaReadFn& read, const LzmaWriteFn& write,
                     uint64_t max_output = kLzmaUnbounded);

// Whole stream held in memory; out receives at most max_output bytes.
int DecodeLzmaBuffer(const uint8_t* data, size_t size, std::vector<uint8_t>& out,
                     uint64_t max_output);

}  // namespace velm
