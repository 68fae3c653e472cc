#pragma once
// A small game client in three versions, generated in memory (nothing large in git):
// nested folders, a 1 MiB file edited in place between versions, a file added
// in version 2, one removed in version 3, an empty file, a name outside ASCII.
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace velm::publish {

class TestClient {
public:
    using Files = std::map<std::wstring, std::vector<uint8_t>>;  // entry name -> bytes

    explicit TestClient(int version);
    const Files& files() const { return files_; }
    bool WriteTo(const std::filesystem::path& folder) const;

private:
    Files files_;
};

// A scratch folder under the current directory, removed with its contents.
class TestDir {
public:
    explicit TestDir(const std::string& name);
    ~TestDir();
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace velm::publish
