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

}  // namespace velm::publish
