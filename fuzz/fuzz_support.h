#pragma once
// Shared by the fuzz targets: a failed property aborts with a message (libFuzzer then
// keeps the input as a crash), and inputs that must live in files get a private scratch
// folder in memory-backed storage.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velm_fuzz {

[[noreturn]] void Fail(const char* condition, const char* file, int line);

#define FUZZ_CHECK(condition) \
    ((condition) ? (void)0 : ::velm_fuzz::Fail(#condition, __FILE__, __LINE__))

// A folder of this process's own, removed at exit; the log is redirected into it so that
// no target writes "launcher.log" into the current folder.
const std::string& ScratchFolder();
std::wstring ScratchPath(const char* name);

void WriteBytes(const std::wstring& path, const uint8_t* data, size_t size);
// Empty when the file is missing.
std::vector<uint8_t> ReadBytes(const std::wstring& path);

// Splits an input into pieces by a 16-bit little-endian length in front of the first
// piece; the second piece is the rest. Short inputs give empty pieces.
struct TwoPieces {
    const uint8_t* first = nullptr;
    size_t first_size = 0;
    const uint8_t* second = nullptr;
    size_t second_size = 0;
};
TwoPieces SplitInput(const uint8_t* data, size_t size);
// The inverse, for seed generation.
std::vector<uint8_t> JoinPieces(const std::vector<uint8_t>& first, const std::vector<uint8_t>& second);

}  // namespace velm_fuzz
