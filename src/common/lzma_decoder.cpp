#include "common/lzma_decoder.h"

#include <LzmaDec.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace velm {
namespace {

void* SdkAlloc(void*, size_t size) { return size == 0 ? nullptr : std::malloc(size); }
void SdkFree(void*, void* address) { std::free(address); }
ISzAlloc g_sdk_alloc = {SdkAlloc, SdkFree};

// lc < 9, lp < 5, pb < 5 packed as (pb * 5 + lp) * 9 + lc.
constexpr uint8_t kMaxPropertyByte = 9 * 5 * 5 - 1;
constexpr size_t kStep = 64 * 1024;

uint64_t LoadLe64(const uint8_t* p) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = value << 8 | p[i];
    return value;
}

}  // namespace

struct LzmaDecoder::State {
    CLzmaDec dec;
    bool allocated = false;
    State() { LzmaDec_Construct(&dec); }
    ~State() {
        if (allocated) LzmaDec_Free(&dec, &g_sdk_alloc);
    }
};

bool ParseLzmaHeader(const uint8_t* data, size_t size, LzmaHeader& header) {
    if (data == nullptr || size < kLzmaHeaderSize || data[0] > kMaxPropertyByte) return false;
    std::memcpy(header.properties, data, 5);
    header.dictionary_size = uint32_t(data[1]) | uint32_t(data[2]) << 8 |
                             uint32_t(data[3]) << 16 | uint32_t(data[4]) << 24;
    header.uncompressed_size = LoadLe64(data + 5);
    return true;
}

LzmaDecoder::LzmaDecoder() = default;
LzmaDecoder::~LzmaDecoder() = default;

bool LzmaDecoder::Start(const LzmaHeader& header, uint64_t max_output) {
    state_.reset();
    failed_ = true;
    finished_ = false;
    produced_ = 0;
    expected_ = header.uncompressed_size;
    max_output_ = max_output;
    if (header.properties[0] > kMaxPropertyByte) return false;
    if (expected_ != kLzmaUnknownSize && expected_ > max_output_) return false;
    // No match can reach further back than the bytes produced so far, so a stream never
    // needs a dictionary larger than its stored size or the caller's output bound.
    uint64_t dictionary = header.dictionary_size;
    dictionary = std::min(dictionary, expected_ != kLzmaUnknownSize ? expected_ : max_output_);
    if (dictionary > kLzmaMaxDictionary) return false;
    uint8_t properties[5];
    properties[0] = header.properties[0];
    for (int i = 0; i < 4; ++i) properties[1 + i] = uint8_t(dictionary >> (8 * i));
    auto state = std::make_unique<State>();
    if (LzmaDec_Allocate(&state->dec, properties, 5, &g_sdk_alloc) != SZ_OK) return false;
    state->allocated = true;
    LzmaDec_Init(&state->dec);
    state_ = std::move(state);
    failed_ = false;
    finished_ = expected_ == 0;
    return true;
}

LzmaStep LzmaDecoder::Decode(const uint8_t* in, size_t in_size, size_t& consumed, uint8_t* out,
                             size_t out_size, size_t& produced) {
    consumed = 0;
    produced = 0;
    if (failed_) return LzmaStep::kError;
    if (finished_) return LzmaStep::kFinished;
    const bool known = expected_ != kLzmaUnknownSize;
    const uint64_t limit = known ? expected_ : max_output_;
    const uint64_t left = limit - produced_;
    size_t room = size_t(std::min<uint64_t>(out_size, left));
    // Without a stored size, reaching the caller's bound means the stream has to end right
    // there; asking the SDK to finish makes it read the end marker or report bad data.
    const ELzmaFinishMode mode = !known && room == left ? LZMA_FINISH_END : LZMA_FINISH_ANY;
    SizeT in_len = in_size;
    SizeT out_len = room;
    ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
    SRes res = LzmaDec_DecodeToBuf(&state_->dec, out, &out_len, in, &in_len, mode, &status);
    consumed = in_len;
    produced = out_len;
    produced_ += out_len;
    if (res != SZ_OK) {
        failed_ = true;
        return LzmaStep::kError;
    }
    if (known && produced_ == expected_) {
        finished_ = true;
        return LzmaStep::kFinished;
    }
    if (status == LZMA_STATUS_FINISHED_WITH_MARK) {
        // An end marker before the stored size means the stream was cut short.
        if (known) {
            failed_ = true;
            return LzmaStep::kError;
        }
        finished_ = true;
        return LzmaStep::kFinished;
    }
    if (!known && produced_ == max_output_ && status != LZMA_STATUS_NEEDS_MORE_INPUT) {
        failed_ = true;
        return LzmaStep::kError;
    }
    return LzmaStep::kContinue;
}

int DecodeLzmaStream(const LzmaReadFn& read, const LzmaWriteFn& write, uint64_t max_output) {
    std::vector<uint8_t> in(kStep);
    std::vector<uint8_t> out(kStep);
    size_t have = 0;
    bool at_end = false;
    auto fill = [&](size_t want) {
        while (!at_end && have < want) {
            int64_t got = read(in.data() + have, want - have);
            if (got < 0) return false;
            if (got == 0) at_end = true;
            have += size_t(got);
        }
        return true;
    };
    if (!fill(kLzmaHeaderSize) || have < kLzmaHeaderSize) return 0;
    LzmaHeader header;
    LzmaDecoder decoder;
    if (!ParseLzmaHeader(in.data(), have, header) || !decoder.Start(header, max_output)) return 0;
    size_t pos = kLzmaHeaderSize;
    for (;;) {
        if (pos == have) {
            pos = have = 0;
            if (!fill(kStep)) return 0;
        }
        size_t consumed = 0;
        size_t produced = 0;
        LzmaStep step =
            decoder.Decode(in.data() + pos, have - pos, consumed, out.data(), out.size(), produced);
        pos += consumed;
        if (produced > 0 && !write(out.data(), produced)) return 0;
        if (step == LzmaStep::kFinished) return 1;
        if (step == LzmaStep::kError) return 0;
        if (consumed == 0 && produced == 0 && pos == have && at_end) return 0;
    }
}

int DecodeLzmaBuffer(const uint8_t* data, size_t size, std::vector<uint8_t>& out,
                     uint64_t max_output) {
    out.clear();
    size_t offset = 0;
    auto read = [&](uint8_t* buffer, size_t want) -> int64_t {
        size_t take = std::min(want, size - offset);
        if (take > 0) std::memcpy(buffer, data + offset, take);
        offset += take;
        return int64_t(take);
    };
    auto write = [&](const uint8_t* bytes, size_t count) {
        out.insert(out.end(), bytes, bytes + count);
        return true;
    };
    int result = DecodeLzmaStream(read, write, max_output);
    if (result != 1) out.clear();
    return result;
}

}  // namespace velm
