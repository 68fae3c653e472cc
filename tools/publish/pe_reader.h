#pragma once
// Bounded little-endian reads of a PE image held in memory, for the publisher's readers of
// an untrusted executable: every read is preceded by a Has check of its range.
#include <cstdint>
#include <vector>

namespace velm::publish {

class PeReader {
public:
    explicit PeReader(const std::vector<uint8_t>& image) : image_(image) {}
    bool Has(uint64_t offset, uint64_t size) const {
        return offset <= image_.size() && size <= image_.size() - offset;
    }
    uint32_t U16(uint64_t offset) const {
        return uint32_t(image_[offset]) | uint32_t(image_[offset + 1]) << 8;
    }
    uint32_t U32(uint64_t offset) const { return U16(offset) | U16(offset + 2) << 16; }
    uint8_t Byte(uint64_t offset) const { return image_[offset]; }

private:
    const std::vector<uint8_t>& image_;
};

inline constexpr uint32_t kPeSectionHeaderSize = 40;

// What every reader of the image starts from: the "MZ" stub's pointer to "PE\0\0" and the
// COFF file header behind it. The optional header follows the 24 bytes of signature and
// file header, and the section table follows the optional header.
struct PeFileHeader {
    uint64_t pe = 0;  // offset of "PE\0\0"
    uint32_t section_count = 0;
    uint32_t optional_size = 0;

    uint64_t OptionalHeader() const { return pe + 24; }
    uint64_t SectionTable() const { return pe + 24 + optional_size; }
};

// False when the image is not a PE executable whose file header lies within its bytes.
inline bool ReadPeFileHeader(const PeReader& r, PeFileHeader& header) {
    if (!r.Has(0, 64) || r.U16(0) != 0x5A4D) return false;
    header.pe = r.U32(0x3C);
    if (!r.Has(header.pe, 24) || r.U32(header.pe) != 0x00004550) return false;
    header.section_count = r.U16(header.pe + 6);
    header.optional_size = r.U16(header.pe + 20);
    return true;
}

}  // namespace velm::publish
