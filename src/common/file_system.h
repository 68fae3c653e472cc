#pragma once
// File system operations whose platform forms differ. Last-write times are as the Windows
// file system reports them: 100 ns units since 1601; the hash cache trusts a stored hash
// only while this value is exactly unchanged.
#include <cstdint>
#include <string>

namespace velm {

// Read from the file system's record of the file without opening it: checking an
// installation costs one metadata query per file, and a file another program holds open
// still answers. False when the file is missing or is a folder.
bool FileWriteTime(const std::wstring& path, uint64_t& time);

// Sets the last-write time; tests use it to simulate a touched file.
bool SetFileWriteTime(const std::wstring& path, uint64_t time);

// Moves from over to, replacing an existing to in one step, so that a reader sees either
// the old or the new file, never a half-written one.
bool ReplaceFileAtomically(const std::wstring& from, const std::wstring& to);

// Forces the file's written bytes out of the system's cache onto the disk.
bool FlushFileToDisk(const std::wstring& path);

// The last step of "write beside, flush, move over": puts a file written in full beside
// to in its place, its bytes on disk first. Without the flush a power cut can leave to
// under its new name with blocks that were never written, while everything that trusted
// the move (a saved hash, a resume record) already vouches for it. On failure to is
// untouched and the staging file stays where it is.
bool CommitStagedFile(const std::wstring& staging, const std::wstring& to);

}  // namespace velm
