// Package benchmark helper, built by bench/package.sh against the optimised libraries.
//   package_bench build PACK DIR   packs every file of DIR: names ending in ".stored" are
//                                  stored, the others LZMA-compressed
//   package_bench extract PACK OUT extracts every entry into OUT (which must exist) and
//                                  prints the seconds it took
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/file_io.h"
#include "common/text.h"
#include "formats/pack_file.h"
#include "formats/pack_format.h"

namespace fs = std::filesystem;
using namespace velm;

namespace {

int Build(const std::string& pack, const std::string& dir) {
    std::vector<PackSource> sources;
    for (const auto& item : fs::directory_iterator(dir)) {
        std::string name = item.path().filename().string();
        bool stored = name.size() > 7 && name.compare(name.size() - 7, 7, ".stored") == 0;
        sources.push_back({Utf8ToWide("\\" + name), Utf8ToWide(item.path().string()),
                           stored ? 0u : kPackFlagLzma, 0});
    }
    FileHandle out = OpenFile(Utf8ToWide(pack), FileMode::kWrite);
    std::string error;
    if (!out || !BuildPack(out.get(), sources, nullptr, error)) {
        std::fprintf(stderr, "package_bench: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

int Extract(const std::string& pack_path, const std::string& out) {
    const auto start = std::chrono::steady_clock::now();
    PackFile pack;
    if (!pack.OpenPackFile(Utf8ToWide(pack_path))) {
        std::fprintf(stderr, "package_bench: %s\n", pack.LastError().c_str());
        return 1;
    }
    for (const PackEntry& entry : pack.Directory().Entries()) {
        if (!pack.ExtractFile(entry.name, Utf8ToWide(out + "/") + entry.name.substr(1))) {
            std::fprintf(stderr, "package_bench: cannot extract %s\n", WideToUtf8(entry.name).c_str());
            return 1;
        }
    }
    std::printf("%.3f\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "build") return Build(argv[2], argv[3]);
    if (argc == 4 && std::string(argv[1]) == "extract") return Extract(argv[2], argv[3]);
    std::fprintf(stderr, "usage: package_bench build PACK DIR | extract PACK OUT\n");
    return 2;
}
