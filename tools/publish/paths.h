#pragma once
// Wide-path helpers of the publisher: std::filesystem paths built from UTF-8 on both
// builds, so that names reach the file system unchanged on Linux and Windows.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace velm::publish {

std::filesystem::path FsPath(const std::wstring& path);
std::wstring WidePath(const std::filesystem::path& path);

// Patch-root location of an entry name ("\\a\\b") inside a version folder.
std::filesystem::path EntryPath(const std::filesystem::path& folder, const std::wstring& name);

bool ReadBytes(const std::filesystem::path& path, std::vector<uint8_t>& bytes);
bool WriteBytes(const std::filesystem::path& path, const void* data, size_t size);

}  // namespace velm::publish
