#pragma once
// The program's built-in texts: configuration texts (type "CONFIG_TEXT", UTF-16LE, no
// terminator) and the string table. Loaded on demand from the executable's resources.
#include <cstdint>
#include <string>

namespace velm {

// Empty when the resource is absent or cannot be loaded.
std::wstring LoadConfigText(int id);
// At most 2048 characters; empty when absent.
std::wstring LoadResString(int id);

// The "UPDATE" resource 211 as a little-endian signed 64-bit value; false when it is
// absent or not exactly 8 bytes long.
bool ReadPackageMarker(int64_t& marker);

}  // namespace velm
