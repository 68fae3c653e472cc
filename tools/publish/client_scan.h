#pragma once
// The files of a client folder as the launcher will name them: "\\" followed by the path
// relative to the folder with "\\" separators.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace velm::publish {

struct ClientFile {
    std::wstring name;
    std::filesystem::path path;
    int64_t size = 0;
    uint64_t file_time = 0;  // Windows file time of the last write
};

// Sorted by name. Fails with a reason for a missing folder, an unreadable entry, a name
// the file list cannot carry, or two names that Windows would see as one file.
bool ScanClientFolder(const std::filesystem::path& folder, std::vector<ClientFile>& files,
                      std::string& error);

}  // namespace velm::publish
