// "LocalHashCache.xml" as found on disk: loading never fails loudly and a failed load
// leaves the cache empty. A file the launcher saved itself loads back as the same cache:
// saving it again gives the same bytes. (The first save of a hostile file may differ from
// it: text that is not valid Unicode comes back normalised once.)
#include "fuzz_support.h"

#include "formats/hash_cache.h"

namespace {

const std::wstring kBase = L"/nonexistent-base";

// Loads from, saves to; the size of the cache in between.
size_t Resave(const std::wstring& from, const std::wstring& to) {
    velm::HashCache cache(kBase);
    FUZZ_CHECK(cache.LoadLocalHashCache(from) == 1);
    FUZZ_CHECK(cache.SaveLocalHashCache(to) == 1);
    return cache.Size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::wstring input = velm_fuzz::ScratchPath("input.xml");
    static const std::wstring first = velm_fuzz::ScratchPath("first.xml");
    static const std::wstring second = velm_fuzz::ScratchPath("second.xml");
    static const std::wstring third = velm_fuzz::ScratchPath("third.xml");
    velm_fuzz::WriteBytes(input, data, size);

    velm::HashCache cache(kBase);
    if (cache.LoadLocalHashCache(input) != 1) {
        FUZZ_CHECK(cache.Size() == 0);
        return 0;
    }
    FUZZ_CHECK(cache.SaveLocalHashCache(first) == 1);
    const size_t entries = Resave(first, second);
    FUZZ_CHECK(entries <= cache.Size());
    FUZZ_CHECK(Resave(second, third) == entries);
    FUZZ_CHECK(velm_fuzz::ReadBytes(second) == velm_fuzz::ReadBytes(third));
    return 0;
}
