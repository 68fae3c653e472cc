#pragma once
// The steps of applying a chain of downloaded diffs to an installed client file, in
// memory: the file is read once, every diff turns the previous result into the next, and
// only a result that the caller has checked is written, beside the file and moved over it.
#include <cstdint>
#include <string>
#include <vector>

namespace velm {

// Largest old or new file a diff may be applied to: the format's sizes are 32-bit.
inline constexpr unsigned long long kMaxPatchedFileBytes = 0x7FFFFFFFull;

// Reads the file whole; false (last error set) when it cannot be read or is larger than
// kMaxPatchedFileBytes.
bool ReadPatchSource(const std::wstring& path, std::vector<uint8_t>& bytes);

// Applies the diff file at diff_path to old. True, with result filled, when the diff is
// whole and consistent, its result at most max_result bytes and of the MD5 the diff
// carries. False with the thread's last error set otherwise: ERROR_CRC for a result of
// another MD5, ERROR_INVALID_DATA for a diff that is not one or a result too large.
bool ApplyDiffFile(const std::vector<uint8_t>& old, const std::wstring& diff_path, uint64_t max_result,
                   std::vector<uint8_t>& result);

// Writes bytes beside path, flushes and renames them over it: a crash, a power cut or a
// full disk mid-write leaves the old version in place instead of a truncated file. False
// (last error set) with path untouched.
bool WritePatchedFile(const std::wstring& path, const std::vector<uint8_t>& bytes);

}  // namespace velm
