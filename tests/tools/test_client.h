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

// The bytes of a fixture file the build made (a test executable); a test failure when it
// cannot be read.
std::vector<uint8_t> LoadFixture(const char* path);

// Every file below root, by its path relative to root, with its bytes.
std::map<std::string, std::vector<uint8_t>> RootContents(const std::filesystem::path& root);

// Problems one a line, for a failure message.
std::string Joined(const std::vector<std::string>& problems);

}  // namespace velm::publish
