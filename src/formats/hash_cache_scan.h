#pragma once
// The quick reading of "LocalHashCache.xml": one pass over the file in small blocks, with
// no document tree in memory, for the file as the launcher writes it. A cache of tens of
// thousands of files is read at every start, and building the whole document first costs
// several times the size of the file in fresh memory.
//
// What it reads: UTF-16LE with its byte-order mark; an XML declaration at the start; one
// top-level element Root with its version; the first FileList child of Root and each
// element directly inside it. Attribute values are quoted and may use the five predefined
// entities and character references. Anything else (a comment, CDATA, a doctype, a line
// break or tab inside a value, a name beyond ASCII, characters outside the Basic
// Multilingual Plane, a malformed document) is left to the general XML reader, which then
// decides: both readers give the same cache for every file this one reads.
#include <cstdint>
#include <functional>
#include <string>

namespace velm {

// The four attributes of one element of FileList as they stand in the file, entities
// decoded; empty when absent (the first of repeated attributes counts).
struct ScannedCacheEntry {
    std::wstring name;
    std::wstring hash;
    std::wstring datetime_low;
    std::wstring datetime_hi;
};

enum class CacheScanResult {
    kRead,        // every element of FileList was handed to take
    kUnreadable,  // missing, unreadable or larger than max_bytes
    kNotPlain,    // left to the general reader; what was handed to take so far is void
};

CacheScanResult ScanHashCacheFile(const std::wstring& path, uint64_t max_bytes,
                                  const std::function<void(const ScannedCacheEntry&)>& take);

}  // namespace velm
