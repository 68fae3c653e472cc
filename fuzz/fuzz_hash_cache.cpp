// "LocalHashCache.xml" as found on disk: loading never fails loudly and a failed load
// leaves the cache empty. A file the launcher saved itself loads back as the same cache:
// saving it again gives the same bytes. (The first save of a hostile file may differ from
// it: text that is not valid Unicode comes back normalised once.) Whatever the quick
// reader reads, the general XML reader reads the same way.
#include "fuzz_support.h"

#include <pugixml.hpp>

#include <vector>

#include "formats/hash_cache.h"
#include "formats/hash_cache_scan.h"

namespace {

const std::wstring kBase = L"/nonexistent-base";

std::vector<std::wstring> Fields(const velm::ScannedCacheEntry& entry) {
    return {entry.name, entry.hash, entry.datetime_low, entry.datetime_hi};
}

// The elements of the first FileList of Root as the general reader sees them; false when
// it refuses the document.
bool DocumentEntries(const uint8_t* data, size_t size, std::vector<std::vector<std::wstring>>& entries) {
    pugi::xml_document document;
    if (!document.load_buffer(data, size, pugi::parse_default, pugi::encoding_auto)) return false;
    pugi::xml_node root = document.child(L"Root");
    if (!root || std::wstring(root.attribute(L"version").value()) != L"100") return false;
    pugi::xml_node list = root.child(L"FileList");
    if (!list) return false;
    for (pugi::xml_node file = list.first_child(); file; file = file.next_sibling()) {
        if (file.type() != pugi::node_element) continue;
        entries.push_back({file.attribute(L"name").value(), file.attribute(L"hash").value(),
                           file.attribute(L"datetime_low").value(), file.attribute(L"datetime_hi").value()});
    }
    return true;
}

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

    std::vector<std::vector<std::wstring>> scanned;
    const velm::CacheScanResult scan = velm::ScanHashCacheFile(
        input, velm::HashCache::kMaxFileBytes, [&](const velm::ScannedCacheEntry& entry) { scanned.push_back(Fields(entry)); });
    if (scan == velm::CacheScanResult::kRead) {
        std::vector<std::vector<std::wstring>> parsed;
        FUZZ_CHECK(DocumentEntries(data, size, parsed));
        FUZZ_CHECK(parsed == scanned);
    }

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
