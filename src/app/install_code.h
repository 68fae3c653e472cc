#pragma once
// The one-time install code of "sn.txt": UTF-16LE after a byte-order mark, at most the
// first 50 bytes read, the code ending at the first zero character, at most 23 characters.
#include <cstddef>
#include <cstdint>
#include <string>

namespace velm {

inline constexpr size_t kInstallCodeBytesRead = 50;
inline constexpr size_t kInstallCodeMaxChars = 23;

// Empty when the bytes carry no code. Bytes without the UTF-16LE byte-order mark are not
// a file the installer wrote: they give no code rather than garbage.
std::wstring InstallCodeFromBytes(const uint8_t* bytes, size_t size);

// The code of "sn.txt" in the current folder (empty when absent or unreadable).
std::wstring ReadInstallCode();

}  // namespace velm
