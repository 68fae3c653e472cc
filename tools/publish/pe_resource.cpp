#include "pe_resource.h"

#include "pe_reader.h"

namespace velm::publish {
namespace {

constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kMaxEntriesPerLevel = 4096;

using Reader = PeReader;

struct Section {
    uint32_t rva, size, raw_offset, raw_size;
};

bool RvaToOffset(const std::vector<Section>& sections, uint32_t rva, uint32_t size,
                 uint64_t& offset) {
    for (const Section& s : sections) {
        uint32_t span = s.size > s.raw_size ? s.raw_size : s.size;
        if (rva >= s.rva && rva - s.rva <= span && size <= span - (rva - s.rva)) {
            offset = uint64_t(s.raw_offset) + (rva - s.rva);
            return true;
        }
    }
    return false;
}

// One level of the resource tree: finds the entry whose name (when name is not empty) or
// id matches, or the first entry when any is set. Gives the entry's target field.
bool FindEntry(const Reader& r, uint64_t dir_base, uint64_t dir_size, uint64_t table,
               const std::wstring& name, uint32_t id, bool any, uint32_t& target) {
    if (table > dir_size || !r.Has(dir_base + table, 16)) return false;
    uint32_t named = r.U16(dir_base + table + 12), ids = r.U16(dir_base + table + 14);
    uint32_t count = named + ids;
    if (count > kMaxEntriesPerLevel || !r.Has(dir_base + table + 16, uint64_t(count) * 8))
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        uint64_t entry = dir_base + table + 16 + uint64_t(i) * 8;
        uint32_t key = r.U32(entry);
        bool match = any;
        if (!any && (key & 0x80000000u) && !name.empty()) {
            uint64_t text = dir_base + (key & 0x7FFFFFFFu);
            if (!r.Has(text, 2)) return false;
            uint32_t length = r.U16(text);
            if (!r.Has(text + 2, uint64_t(length) * 2)) return false;
            std::wstring stored;
            for (uint32_t c = 0; c < length; ++c) stored += wchar_t(r.U16(text + 2 + 2 * c));
            match = stored == name;
        } else if (!any && !(key & 0x80000000u) && name.empty()) {
            match = key == id;
        }
        if (match) {
            target = r.U32(entry + 4);
            return true;
        }
    }
    return false;
}

}  // namespace

int FindPeResource(const std::vector<uint8_t>& image, const std::wstring& type, uint16_t id,
                   uint64_t& file_offset, uint32_t& size, std::string& error) {
    Reader r(image);
    error = "not a PE executable";
    PeFileHeader header;
    if (!ReadPeFileHeader(r, header)) return 0;
    const uint64_t optional = header.OptionalHeader();
    const uint32_t optional_size = header.optional_size;
    if (!r.Has(optional, optional_size) || optional_size < 2) return 0;
    uint32_t magic = r.U16(optional);
    uint64_t directories = optional + (magic == 0x20B ? 112 : magic == 0x10B ? 96 : 0);
    if (directories == optional) return 0;
    uint64_t dir_entry = directories + kResourceDirectory * 8;
    if (dir_entry + 8 > optional + optional_size) {
        error = "executable has no resource directory";
        return 0;
    }
    uint32_t resource_rva = r.U32(dir_entry), resource_size = r.U32(dir_entry + 4);
    const uint64_t table = header.SectionTable();
    if (!r.Has(table, uint64_t(header.section_count) * kPeSectionHeaderSize)) return 0;
    std::vector<Section> sections;
    for (uint32_t i = 0; i < header.section_count; ++i) {
        uint64_t s = table + uint64_t(i) * kPeSectionHeaderSize;
        sections.push_back({r.U32(s + 12), r.U32(s + 8), r.U32(s + 20), r.U32(s + 16)});
    }
    uint64_t base = 0;
    if (resource_rva == 0 || !RvaToOffset(sections, resource_rva, resource_size, base) ||
        !r.Has(base, resource_size)) {
        error = "executable has no resource directory";
        return 0;
    }
    uint32_t type_target = 0, id_target = 0, lang_target = 0;
    bool found = FindEntry(r, base, resource_size, 0, type, 0, false, type_target) &&
                 (type_target & 0x80000000u) &&
                 FindEntry(r, base, resource_size, type_target & 0x7FFFFFFFu, L"", id, false,
                           id_target) &&
                 (id_target & 0x80000000u) &&
                 FindEntry(r, base, resource_size, id_target & 0x7FFFFFFFu, L"", 0, true,
                           lang_target) &&
                 !(lang_target & 0x80000000u);
    if (!found || uint64_t(lang_target) + 16 > resource_size) {
        error = "resource not found";
        return 0;
    }
    uint32_t data_rva = r.U32(base + lang_target), data_size = r.U32(base + lang_target + 4);
    if (!RvaToOffset(sections, data_rva, data_size, file_offset) ||
        !r.Has(file_offset, data_size)) {
        error = "resource data outside the file";
        return 0;
    }
    size = data_size;
    return 1;
}

}  // namespace velm::publish
