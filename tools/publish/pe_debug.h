#pragma once
// Tells whether a PE executable still carries debug information, so that velm-publish can
// warn before an unstripped launcher goes out to every player. The file is untrusted:
// every header, table and name is checked against the file's length.
#include <cstdint>
#include <string>
#include <vector>

namespace velm::publish {

// The names of the image's debug sections (".debug_*", ".zdebug_*"), long names resolved
// through the COFF string table; empty for a stripped image. 1 on success, 0 with a reason
// in error when the image is not a PE executable.
int FindPeDebugSections(const std::vector<uint8_t>& image, std::vector<std::string>& names,
                        std::string& error);

}  // namespace velm::publish
