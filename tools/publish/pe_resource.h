#pragma once
// Finds the data of one resource in a PE executable (32- or 64-bit) so that it can be
// overwritten in place; velm-publish stamps the package offset into the launcher's
// "UPDATE" 211 resource this way. The file is untrusted: every header, table and
// directory entry is checked against the file's length.
#include <cstdint>
#include <string>
#include <vector>

namespace velm::publish {

// File offset and size of the data of the resource with a named type (as stored: upper
// case) and a numeric id, first language. 1 on success, 0 with a reason in error.
int FindPeResource(const std::vector<uint8_t>& image, const std::wstring& type, uint16_t id,
                   uint64_t& file_offset, uint32_t& size, std::string& error);

}  // namespace velm::publish
