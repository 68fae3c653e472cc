#pragma once
// Decoding of a downloaded ".cmp" container into its final file. Integers little-endian:
//
//   offset 0       24  prefix written by the publisher, not read here
//   offset 24       4  n: length of an extra block
//   offset 28       n  extra block, skipped
//   offset 28 + n  13  stand-alone LZMA header (properties, uncompressed size or all ones)
//   offset 41 + n  ..  LZMA data
#include <cstddef>
#include <string>

namespace velm {

constexpr size_t kCmpExtraLengthOffset = 24;

// 0 on success, -1 on failure: unreadable source, destination not creatable, an extra
// block reaching past the end, a bad header, corrupt or truncated data, a short write.
// The destination is created new (a failed decode may leave part of it behind).
int DecodeCmpFile(const std::wstring& source, const std::wstring& destination);

}  // namespace velm
