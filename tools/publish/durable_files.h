#pragma once
// Writing a patch root so that a power cut or a crash cannot leave players a list that
// names objects the disk never received, nor a signature whose serial is used twice:
// every file is written beside its place and forced onto the disk, moved over in one
// step, and the folder that holds the new names is forced onto the disk in turn.
#include <cstddef>
#include <filesystem>

namespace velm::publish {

// Writes data to path (its folders made as needed) and forces it onto the disk.
bool WriteFlushed(const std::filesystem::path& path, const void* data, size_t size);

// Moves the file from over to, replacing to in one step (written through on Windows).
bool MoveFileOver(const std::filesystem::path& from, const std::filesystem::path& to);

// Forces the folder's entries (names added, moved or removed) onto the disk. POSIX
// fsyncs the folder; on Windows the write-through moves have done what can be done.
bool FlushFolder(const std::filesystem::path& folder);

// FlushFolder for the folder and every folder below it.
bool FlushFolderTree(const std::filesystem::path& folder);

}  // namespace velm::publish
