#pragma once
// The compressed ".cmp" container that the patch server stores for every
// download with flag bit 0 (file list, full files, diffs, the launcher):
//
//   0   24  prefix: "VELMCMP1", uncompressed size (u64 LE), 8 zero bytes.
//           The launcher skips it.
//   24   4  n = 0: length of the extra block (none is written)
//   28  13  LZMA properties (5) and uncompressed size (u64 LE)
//   41   .. LZMA data
#include "common/lzma_encoder.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace velm {

constexpr size_t kCmpPrefixSize = 24;
constexpr size_t kCmpHeaderSize = kCmpPrefixSize + 4;
extern const char kCmpMagic[8];

// Appends a whole container for data[0..size) to out.
bool WriteCmp(const uint8_t* data, size_t size, std::vector<uint8_t>& out,
              const LzmaEncoderSettings& settings = {});

// Streams exactly size bytes from in into a container written at out's current position.
bool WriteCmpFile(std::FILE* in, uint64_t size, std::FILE* out,
                  const LzmaEncoderSettings& settings = {},
                  const LzmaProgress& progress = nullptr);

// Decodes a whole container held in memory, as the launcher does (prefix and extra block
// skipped). Returns false for a truncated or corrupt container or output over max_output.
bool DecodeCmp(const uint8_t* bytes, size_t size, std::vector<uint8_t>& out,
               uint64_t max_output);

}  // namespace velm
