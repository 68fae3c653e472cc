#pragma once
// Applying one downloaded diff file to an installed client file, in memory, and writing
// the result only when its MD5 is the one the diff carries.
#include <string>

namespace velm {

// Largest old or new file a diff may be applied to: the format's sizes are 32-bit.
inline constexpr unsigned long long kMaxPatchedFileBytes = 0x7FFFFFFFull;

// old_path and new_path are the same file in the update run. True when the new file was
// written and verified; false leaves new_path as it was, except that a result with the
// wrong digest stamps its times with now, so that the next run hashes it again. The
// thread's last error is set on every failure.
bool ApplyDiffFile(const std::wstring& old_path, const std::wstring& new_path,
                   const std::wstring& diff_path);

}  // namespace velm
