#pragma once
// File system operations whose platform forms differ. Last-write times are as the Windows
// file system reports them: 100 ns units since 1601; the hash cache trusts a stored hash
// only while this value is exactly unchanged.
#include <cstdint>
#include <string>

namespace velm {

// False when the file cannot be opened for reading (missing, locked, a folder).
bool FileWriteTime(const std::wstring& path, uint64_t& time);

// Sets the last-write time; tests use it to simulate a touched file.
bool SetFileWriteTime(const std::wstring& path, uint64_t time);

// Moves from over to, replacing an existing to in one step, so that a reader sees either
// the old or the new file, never a half-written one.
bool ReplaceFileAtomically(const std::wstring& from, const std::wstring& to);

}  // namespace velm
