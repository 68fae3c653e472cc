#include "test_client.h"

#include "paths.h"

#include <gtest/gtest.h>

#include <random>

namespace velm::publish {
namespace fs = std::filesystem;
namespace {

std::vector<uint8_t> Noise(size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> bytes(size);
    // Compressible like game data: runs of a few values between noise.
    for (size_t i = 0; i < size; ++i) bytes[i] = (i / 512) % 3 ? uint8_t(rng() % 4) : uint8_t(rng());
    return bytes;
}

void Edit(std::vector<uint8_t>& bytes, unsigned seed) {
    std::mt19937 rng(seed);
    for (int i = 0; i < 40; ++i) {
        size_t at = rng() % (bytes.size() - 64);
        for (size_t j = 0; j < 64; ++j) bytes[at + j] = uint8_t(rng());
    }
}

std::vector<uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

}  // namespace

TestClient::TestClient(int version) {
    std::vector<uint8_t> big = Noise(1 << 20, 1);
    for (int v = 2; v <= version; ++v) Edit(big, unsigned(v));
    files_[L"\\VelmGame\\Data\\world.pak"] = big;
    files_[L"\\VelmGame\\Config\\DefaultGame.ini"] =
        Text("[Version]\nVersion=1.0." + std::to_string(version) + "\n");
    files_[L"\\VelmGame\\Movies\\intro.bik"] = Noise(300000, 2);
    files_[L"\\VelmGame\\empty.dat"] = {};
    files_[L"\\VelmGame\\说明.txt"] = Text("说明 version " + std::to_string(version > 1 ? 2 : 1));
    for (int i = 0; i < 12; ++i) {
        files_[L"\\VelmGame\\Scripts\\s" + std::to_wstring(i) + L".lua"] =
            Text("-- script " + std::to_string(i) + (i == 3 ? " v" + std::to_string(version) : ""));
    }
    if (version >= 2) files_[L"\\VelmGame\\Data\\patch2.pak"] = Noise(50000, 3);
    if (version <= 2) files_[L"\\VelmGame\\old.dll"] = Noise(20000, 4);
}

bool TestClient::WriteTo(const fs::path& folder) const {
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder, ec);
    for (const auto& [name, bytes] : files_) {
        if (!WriteBytes(EntryPath(folder, name), bytes.data(), bytes.size())) return false;
    }
    return true;
}

TestDir::TestDir(const std::string& name) : path_(fs::current_path() / ("publish_" + name)) {
    std::error_code ec;
    fs::remove_all(path_, ec);
    fs::create_directories(path_, ec);
}

TestDir::~TestDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::vector<uint8_t> LoadFixture(const char* path) {
    std::vector<uint8_t> bytes;
    if (!ReadBytes(fs::u8path(path), bytes)) ADD_FAILURE() << "cannot read " << path;
    return bytes;
}

std::map<std::string, std::vector<uint8_t>> RootContents(const fs::path& root) {
    std::map<std::string, std::vector<uint8_t>> contents;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        if (!item.is_regular_file()) continue;
        std::vector<uint8_t> bytes;
        ReadBytes(item.path(), bytes);
        contents[fs::relative(item.path(), root).generic_u8string()] = bytes;
    }
    return contents;
}

std::string Joined(const std::vector<std::string>& problems) {
    std::string text;
    for (const std::string& problem : problems) text += problem + "\n";
    return text;
}

}  // namespace velm::publish
