// An update package carried in the launcher's executable. Input: a 16-bit base offset,
// then the host file. Every entry the directory accepts must lie inside the pack, be found
// again by its name, and decode within its recorded size, as the package reader takes it.
#include "fuzz_support.h"

#include "common/lzma_decoder.h"
#include "download/pack_format.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int64_t kMaxEntryOutput = 4u << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const int64_t base = int64_t(data[0]) | int64_t(data[1]) << 8;
    const uint8_t* host_bytes = data + 2;
    const int64_t host_size = int64_t(size - 2);
    std::FILE* host = fmemopen(const_cast<uint8_t*>(host_bytes), size_t(host_size), "rb");
    FUZZ_CHECK(host != nullptr);

    velm::PackDirectory directory;
    std::string error;
    const int read = directory.Read(host, host_size, base, error);
    std::fclose(host);
    if (read != 1) {
        FUZZ_CHECK(!error.empty() && directory.Entries().empty());
        return 0;
    }
    const int64_t pack_size = host_size - base;
    FUZZ_CHECK(base <= host_size);
    FUZZ_CHECK(directory.DataChunkOffset() >= 0 && directory.DataChunkOffset() <= pack_size);
    for (const velm::PackEntry& entry : directory.Entries()) {
        FUZZ_CHECK(entry.data_offset >= 0 && entry.stored_size >= 0 && entry.file_size >= 0);
        FUZZ_CHECK(entry.data_offset <= pack_size && entry.stored_size <= pack_size - entry.data_offset);
        FUZZ_CHECK(entry.name.size() <= size_t(velm::kMaxPackNameBytes) / 2);
        const velm::PackEntry* found = directory.Find(entry.name);
        FUZZ_CHECK(found != nullptr);
        FUZZ_CHECK(velm::PackLookupKey(found->name) == velm::PackLookupKey(entry.name));

        const uint8_t* stored = host_bytes + base + entry.data_offset;
        if (!(entry.flags & velm::kPackFlagLzma)) {
            FUZZ_CHECK(entry.stored_size == entry.file_size);
            continue;
        }
        std::vector<uint8_t> out;
        const uint64_t bound = uint64_t(std::min(entry.file_size, kMaxEntryOutput));
        if (velm::DecodeLzmaBuffer(stored, size_t(entry.stored_size), out, bound) == 1)
            FUZZ_CHECK(out.size() <= bound);
        else
            FUZZ_CHECK(out.empty());
    }
    return 0;
}
