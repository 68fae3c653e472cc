#include "common/lzma_encoder.h"

#include <LzmaEnc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace velm {
namespace {

void* SdkAlloc(void*, size_t size) { return size == 0 ? nullptr : std::malloc(size); }
void SdkFree(void*, void* address) { std::free(address); }
ISzAlloc g_alloc = {SdkAlloc, SdkFree};

constexpr uint32_t kMaxDictSize = 64u << 20;
constexpr size_t kHeaderSize = LZMA_PROPS_SIZE + 8;

// The SDK's stream interfaces take the object as void*; the interface must be the first
// member so that the callbacks can find their state.
struct BufferInStream {
    ISeqInStream iface;
    const uint8_t* data;
    size_t size;
    size_t pos;
};

SRes BufferRead(void* p, void* buf, size_t* size) {
    BufferInStream* s = static_cast<BufferInStream*>(p);
    size_t n = s->size - s->pos < *size ? s->size - s->pos : *size;
    if (n) std::memcpy(buf, s->data + s->pos, n);
    s->pos += n;
    *size = n;
    return SZ_OK;
}

struct VectorOutStream {
    ISeqOutStream iface;
    std::vector<uint8_t>* out;
};

size_t VectorWrite(void* p, const void* buf, size_t size) {
    VectorOutStream* s = static_cast<VectorOutStream*>(p);
    const uint8_t* bytes = static_cast<const uint8_t*>(buf);
    s->out->insert(s->out->end(), bytes, bytes + size);
    return size;
}

struct FileInStream {
    ISeqInStream iface;
    std::FILE* file;
    uint64_t remaining;
    uint64_t done;
    bool overrun;
    const LzmaProgress* progress;
};

SRes FileRead(void* p, void* buf, size_t* size) {
    FileInStream* s = static_cast<FileInStream*>(p);
    size_t want = s->remaining < *size ? size_t(s->remaining) : *size;
    size_t got = want ? std::fread(buf, 1, want, s->file) : 0;
    if (got != want) return SZ_ERROR_READ;
    s->remaining -= got;
    s->done += got;
    if (s->remaining == 0 && std::fgetc(s->file) != EOF) s->overrun = true;
    if (got && s->progress && *s->progress) (*s->progress)(s->done);
    *size = got;
    return SZ_OK;
}

struct FileOutStream {
    ISeqOutStream iface;
    std::FILE* file;
};

size_t FileWrite(void* p, const void* buf, size_t size) {
    FileOutStream* s = static_cast<FileOutStream*>(p);
    return std::fwrite(buf, 1, size, s->file);
}

// A window larger than the data finds nothing more, yet costs the encoder about eleven
// bytes and the decoder one byte per byte of window, so it never outgrows the data.
uint32_t DictSizeFor(const LzmaEncoderSettings& settings, uint64_t size) {
    const uint32_t cap = settings.dict_size ? settings.dict_size : kMaxDictSize;
    uint32_t dict = 1u << 12;
    while (dict < cap && dict < size) dict <<= 1;
    return std::min(dict, cap);
}

// Writes the 13-byte header into header[] and encodes from in to out.
bool Encode(ISeqInStream* in, ISeqOutStream* out, uint64_t size,
            const LzmaEncoderSettings& settings, uint8_t* header) {
    CLzmaEncHandle encoder = LzmaEnc_Create(&g_alloc);
    if (!encoder) return false;
    CLzmaEncProps props;
    LzmaEncProps_Init(&props);
    props.level = settings.level;
    props.dictSize = DictSizeFor(settings, size);
    props.lc = settings.lc;
    props.lp = settings.lp;
    props.pb = settings.pb;
    props.fb = settings.fb;
    props.numThreads = 1;
    bool ok = LzmaEnc_SetProps(encoder, &props) == SZ_OK;
    SizeT props_size = LZMA_PROPS_SIZE;
    ok = ok && LzmaEnc_WriteProperties(encoder, header, &props_size) == SZ_OK &&
         props_size == LZMA_PROPS_SIZE;
    for (int i = 0; i < 8; ++i) header[LZMA_PROPS_SIZE + i] = uint8_t(size >> (8 * i));
    ok = ok && out->Write(out, header, kHeaderSize) == kHeaderSize;
    ok = ok && LzmaEnc_Encode(encoder, out, in, nullptr, &g_alloc, &g_alloc) == SZ_OK;
    LzmaEnc_Destroy(encoder, &g_alloc, &g_alloc);
    return ok;
}

}  // namespace

bool LzmaEncode(const uint8_t* data, size_t size, std::vector<uint8_t>& out,
                const LzmaEncoderSettings& settings) {
    BufferInStream in{{BufferRead}, data, size, 0};
    VectorOutStream sink{{VectorWrite}, &out};
    uint8_t header[kHeaderSize];
    return Encode(&in.iface, &sink.iface, size, settings, header) && in.pos == size;
}

bool LzmaEncodeFile(std::FILE* in, uint64_t size, std::FILE* out,
                    const LzmaEncoderSettings& settings, const LzmaProgress& progress) {
    FileInStream source{{FileRead}, in, size, 0, false, &progress};
    FileOutStream sink{{FileWrite}, out};
    uint8_t header[kHeaderSize];
    if (!Encode(&source.iface, &sink.iface, size, settings, header)) return false;
    // A file that grew while it was read would be published with a wrong size.
    return source.remaining == 0 && !source.overrun;
}

}  // namespace velm
