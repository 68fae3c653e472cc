#pragma once
// Decoding of a downloaded ".cmp" container into its final file. Integers little-endian:
//
//   offset 0       24  prefix written by the publisher, not read here
//   offset 24       4  n: length of an extra block
//   offset 28       n  extra block, skipped
//   offset 28 + n  13  stand-alone LZMA header (properties, uncompressed size or all ones)
//   offset 41 + n  ..  LZMA data
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/md5.h"

namespace velm {

constexpr size_t kCmpExtraLengthOffset = 24;

// No file of a game client comes near this; a container that decodes to more is a
// decompression bomb that would fill the player's disk (LZMA turns a few MiB of input
// into tens of GiB of zeros).
constexpr uint64_t kMaxCmpDecodedBytes = uint64_t(16) << 30;

// 0 on success, -1 on failure: unreadable source, destination not creatable, an extra
// block reaching past the end, a bad header, corrupt or truncated data, a short write,
// more than max_output decoded bytes. The destination is created new (a failed decode
// may leave part of it behind). A digest, when given, takes every decoded byte, so the
// result's MD5 costs no second read of it.
int DecodeCmpFile(const std::wstring& source, const std::wstring& destination,
                  uint64_t max_output = kMaxCmpDecodedBytes, Md5* digest = nullptr);

}  // namespace velm
