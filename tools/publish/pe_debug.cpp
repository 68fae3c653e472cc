#include "pe_debug.h"

#include "pe_reader.h"

namespace velm::publish {
namespace {

// The parts of a PE image read here, all little-endian:
//   0x00  "MZ" ... 0x3C u32 offset of the PE header
//   PE    "PE\0\0", then the COFF file header (20 bytes):
//         +4 u16 machine, +6 u16 section count, +8 u32 time stamp,
//         +12 u32 symbol table offset, +16 u32 symbol count, +20 u16 optional header size
//   PE+24 optional header, then the section table: 40 bytes per section, name in the
//         first 8 (NUL-padded; "/123" names the string table's offset 123 in decimal)
//   the COFF string table follows the symbols (18 bytes each): u32 total size (the four
//   size bytes included), then NUL-terminated names
constexpr uint32_t kSymbolSize = 18;
// A section's name longer than this is no name a linker writes.
constexpr size_t kMaxNameLength = 256;

using Reader = PeReader;

// The string table's bounds: [begin, end). An image without one gives an empty range.
void FindStringTable(const Reader& r, uint64_t symbols, uint64_t symbol_count,
                     uint64_t& begin, uint64_t& end) {
    begin = end = 0;
    uint64_t table = symbols + symbol_count * kSymbolSize;
    if (symbols == 0 || !r.Has(table, 4)) return;
    uint32_t size = r.U32(table);
    if (size < 4 || !r.Has(table, size)) return;
    begin = table;
    end = table + size;
}

// The section's name, "/123" resolved when the string table holds it; an unresolvable long
// name is kept as it stands, which is no debug section's name.
std::string SectionName(const Reader& r, uint64_t header, uint64_t strings,
                        uint64_t strings_end) {
    std::string name;
    for (uint64_t i = 0; i < 8 && r.Byte(header + i); ++i) name += char(r.Byte(header + i));
    if (name.size() < 2 || name[0] != '/') return name;
    uint64_t offset = 0;
    for (size_t i = 1; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return name;
        offset = offset * 10 + uint64_t(name[i] - '0');
    }
    if (offset < 4 || offset >= strings_end - strings) return name;
    std::string resolved;
    for (uint64_t at = strings + offset; at < strings_end && r.Byte(at); ++at) {
        if (resolved.size() == kMaxNameLength) return name;
        resolved += char(r.Byte(at));
    }
    return resolved;
}

bool IsDebugSection(const std::string& name) {
    return name.rfind(".debug", 0) == 0 || name.rfind(".zdebug", 0) == 0;
}

}  // namespace

int FindPeDebugSections(const std::vector<uint8_t>& image, std::vector<std::string>& names,
                        std::string& error) {
    names.clear();
    Reader r(image);
    error = "not a PE executable";
    PeFileHeader header;
    if (!ReadPeFileHeader(r, header)) return 0;
    const uint64_t table = header.SectionTable();
    if (!r.Has(table, uint64_t(header.section_count) * kPeSectionHeaderSize)) return 0;
    uint64_t strings = 0, strings_end = 0;
    FindStringTable(r, r.U32(header.pe + 12), r.U32(header.pe + 16), strings, strings_end);
    for (uint32_t i = 0; i < header.section_count; ++i) {
        std::string name =
            SectionName(r, table + uint64_t(i) * kPeSectionHeaderSize, strings, strings_end);
        if (IsDebugSection(name)) names.push_back(name);
    }
    error.clear();
    return 1;
}

}  // namespace velm::publish
