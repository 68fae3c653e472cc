// An update package carried in the launcher's executable. Input: a 16-bit base offset,
// then the host file. Every entry the directory accepts must lie inside the pack, be found
// again by its name, and decode within its recorded size; the package reader extracts an
// entry exactly when its data decodes to that size, and leaves nothing behind otherwise.
#include "fuzz_support.h"

#include "common/file_io.h"
#include "common/lzma_decoder.h"
#include "formats/pack_file.h"
#include "formats/pack_format.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int64_t kMaxEntryOutput = 4u << 20;

// The reader on the same host, written to a file as the launcher finds it.
void CheckReader(const uint8_t* host_bytes, int64_t host_size, int64_t base,
                 const velm::PackDirectory& directory) {
    static const std::wstring host_path = velm_fuzz::ScratchPath("host.exe");
    static const std::wstring destination = velm_fuzz::ScratchPath("extracted");
    velm_fuzz::WriteBytes(host_path, host_bytes, size_t(host_size));
    velm::PackFile pack;
    pack.SetBaseOffset(base);
    if (pack.OpenPackFile(host_path) != 1) {
        FUZZ_CHECK(!pack.LastError().empty());
        return;
    }
    FUZZ_CHECK(pack.Directory().Entries().size() == directory.Entries().size());
    for (const velm::PackEntry& entry : pack.Directory().Entries()) {
        if (entry.file_size > kMaxEntryOutput) continue;
        // The first entry of a name is the one found; later ones are never extracted.
        const velm::PackEntry* found = pack.Directory().Find(entry.name);
        if (found != &entry) continue;
        const uint8_t* stored = host_bytes + base + entry.data_offset;
        std::vector<uint8_t> expected(stored, stored + entry.stored_size);
        bool sound = true;
        if (entry.flags & velm::kPackFlagLzma) {
            sound = velm::DecodeLzmaBuffer(stored, size_t(entry.stored_size), expected,
                                           uint64_t(entry.file_size)) == 1 &&
                    expected.size() == size_t(entry.file_size);
        }
        velm::RemoveFile(destination);
        const int extracted = pack.ExtractFile(entry.name, destination);
        if (extracted == 1) {
            FUZZ_CHECK(sound);
            FUZZ_CHECK(velm_fuzz::ReadBytes(destination) == expected);
        } else {
            FUZZ_CHECK(!velm::FileExists(destination));
            // Only a file time this system cannot set may fail a sound entry.
            FUZZ_CHECK(!sound || entry.file_time != 0);
        }
    }
}

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
    CheckReader(host_bytes, host_size, base, directory);
    return 0;
}
