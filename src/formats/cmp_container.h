#pragma once
// The compressed ".cmp" container that the patch server stores for every download with
// flag bit 0 (file list, full files, diffs, the launcher). Integers little-endian:
//
//   offset 0       24  prefix: "VELMCMP1", uncompressed size (u64), 8 zero bytes; written
//                      by the publisher, never trusted by the launcher
//   offset 24       4  n: length of an extra block (the publisher writes 0)
//   offset 28       n  extra block, skipped
//   offset 28 + n  13  stand-alone LZMA header (properties, uncompressed size or all ones)
//   offset 41 + n  ..  LZMA data
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "common/lzma_encoder.h"
#include "common/md5.h"

namespace velm {

constexpr size_t kCmpPrefixSize = 24;
// Prefix and the extra block's length: what ParseCmpPrefix reads.
constexpr size_t kCmpHeaderSize = kCmpPrefixSize + 4;
extern const char kCmpMagic[8];

// No file of a game client comes near this; a container that decodes to more is a
// decompression bomb that would fill the player's disk (LZMA turns a few MiB of input
// into tens of GiB of zeros).
constexpr uint64_t kMaxCmpDecodedBytes = uint64_t(16) << 30;

// Reads the first kCmpHeaderSize bytes of a container of container_size bytes and gives
// the offset of its LZMA header. False when the extra block reaches past the end.
bool ParseCmpPrefix(const uint8_t (&header)[kCmpHeaderSize], uint64_t container_size,
                    uint64_t& lzma_at);

// The decoded size the prefix states when it carries kCmpMagic (as the publisher writes
// it), else kCmpNoDeclaredSize. Untrusted: good as a bound, never as the size itself.
constexpr uint64_t kCmpNoDeclaredSize = ~uint64_t(0);
uint64_t CmpDeclaredSize(const uint8_t (&header)[kCmpHeaderSize]);

// Appends a whole container for data[0..size) to out.
bool WriteCmp(const uint8_t* data, size_t size, std::vector<uint8_t>& out,
              const LzmaEncoderSettings& settings = {});

// Streams exactly size bytes from in into a container written at out's current position.
bool WriteCmpFile(std::FILE* in, uint64_t size, std::FILE* out,
                  const LzmaEncoderSettings& settings = {},
                  const LzmaProgress& progress = nullptr);

// Decodes a whole container held in memory. Returns false for a truncated or corrupt
// container or output over max_output.
bool DecodeCmp(const uint8_t* bytes, size_t size, std::vector<uint8_t>& out,
               uint64_t max_output);

// Sees every decoded block before it is written (to hash it as it passes); returning false
// stops the decode, as a cancel.
using DecodedBlockFn = std::function<bool(const uint8_t* data, size_t size)>;

// Decodes a downloaded container file into destination. 0 on success, -1 on failure:
// unreadable source, destination not creatable, an extra block reaching past the end, a
// bad header, corrupt or truncated data, a short write, more decoded bytes than
// max_output, or take returning false. The destination is created new (a failed decode
// may leave part of it behind).
int DecodeCmpFile(const std::wstring& source, const std::wstring& destination,
                  uint64_t max_output = kMaxCmpDecodedBytes, const DecodedBlockFn& take = nullptr);

}  // namespace velm
