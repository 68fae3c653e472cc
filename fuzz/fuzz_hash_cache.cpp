// "LocalHashCache.xml" as found on disk: loading never fails loudly, only keeps entries
// that can match a file, and what the launcher saves from them loads back as the same
// cache (saving twice gives the same bytes).
#include "fuzz_support.h"

#include "update/hash_cache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::wstring input = velm_fuzz::ScratchPath("input.xml");
    static const std::wstring first = velm_fuzz::ScratchPath("first.xml");
    static const std::wstring second = velm_fuzz::ScratchPath("second.xml");
    velm_fuzz::WriteBytes(input, data, size);

    velm::HashCache cache(L"/nonexistent-base");
    if (cache.LoadLocalHashCache(input) != 1) {
        FUZZ_CHECK(cache.Size() == 0);
        return 0;
    }
    FUZZ_CHECK(cache.SaveLocalHashCache(first) == 1);
    velm::HashCache reloaded(L"/nonexistent-base");
    FUZZ_CHECK(reloaded.LoadLocalHashCache(first) == 1);
    FUZZ_CHECK(reloaded.Size() == cache.Size());
    FUZZ_CHECK(reloaded.SaveLocalHashCache(second) == 1);
    FUZZ_CHECK(velm_fuzz::ReadBytes(first) == velm_fuzz::ReadBytes(second));
    return 0;
}
