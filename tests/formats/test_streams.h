#pragma once
// Inputs for the decoder and container tests, made with the LZMA SDK's own encoder.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace velm::test {

// Text-like runs and noise in turns, so streams hold both literals and long matches.
std::vector<uint8_t> SampleData(size_t size, uint32_t seed = 12345);

enum class SizeField { kStored, kEndMarker, kStoredAndMarker };

// A stand-alone LZMA stream (13-byte header, data).
std::vector<uint8_t> EncodeLzma(const std::vector<uint8_t>& data, SizeField field);

// A ".cmp" container: 24-byte prefix, extra block of extra_length bytes, LZMA stream.
std::vector<uint8_t> MakeCmp(const std::vector<uint8_t>& data, SizeField field,
                             uint32_t extra_length = 0);

}  // namespace velm::test
