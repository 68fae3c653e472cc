#include "formats/test_streams.h"

#include <LzmaEnc.h>

#include <cstdlib>

#include "common/lzma_decoder.h"

namespace velm::test {
namespace {

void* Alloc(void*, size_t size) { return size == 0 ? nullptr : std::malloc(size); }
void Free(void*, void* address) { std::free(address); }
ISzAlloc g_alloc = {Alloc, Free};

}  // namespace

std::vector<uint8_t> SampleData(size_t size, uint32_t seed) {
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        data[i] = (i / 4096) % 2 == 0 ? uint8_t("velm launcher block "[i % 20]) : uint8_t(seed >> 24);
    }
    return data;
}

std::vector<uint8_t> EncodeLzma(const std::vector<uint8_t>& data, SizeField field) {
    CLzmaEncProps props;
    LzmaEncProps_Init(&props);
    props.level = 5;
    props.dictSize = 1 << 20;
    const bool marker = field != SizeField::kStored;
    std::vector<uint8_t> out(kLzmaHeaderSize + data.size() + data.size() / 2 + 1024);
    SizeT dest_len = out.size() - kLzmaHeaderSize;
    SizeT props_size = 5;
    if (LzmaEncode(out.data() + kLzmaHeaderSize, &dest_len, data.data(), data.size(), &props,
                   out.data(), &props_size, marker ? 1 : 0, nullptr, &g_alloc, &g_alloc) != SZ_OK)
        return {};
    const uint64_t size = field == SizeField::kEndMarker ? kLzmaUnknownSize : data.size();
    for (int i = 0; i < 8; ++i) out[5 + i] = uint8_t(size >> (8 * i));
    out.resize(kLzmaHeaderSize + dest_len);
    return out;
}

std::vector<uint8_t> MakeCmp(const std::vector<uint8_t>& data, SizeField field,
                             uint32_t extra_length) {
    std::vector<uint8_t> out(24, 0x43);
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(extra_length >> (8 * i)));
    out.insert(out.end(), extra_length, 0xEE);
    std::vector<uint8_t> stream = EncodeLzma(data, field);
    out.insert(out.end(), stream.begin(), stream.end());
    return out;
}

}  // namespace velm::test
