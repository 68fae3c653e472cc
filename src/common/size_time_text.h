#pragma once
// Text forms of byte counts and durations for progress lines.
#include <cstdint>
#include <string>

namespace velm {

// "%.2fKB" below 1048576 bytes (negative counts included), "%.2fMB" below 1073741824,
// otherwise "%.2fGB". 1536 gives "1.50KB".
std::wstring SizeText(int64_t bytes);

// "HH:MM:SS" with at least two digits each; hours may have more. 3725 gives "01:02:05".
// A negative duration keeps its sign in front ("-01:02:05").
std::wstring TimeText(int64_t seconds);

}  // namespace velm
