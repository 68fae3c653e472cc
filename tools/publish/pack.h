#pragma once
// velm-publish pack: an offline update package appended to a copy of the launcher, whose
// "UPDATE" 211 resource then holds the package's offset.
//
// From a client folder (--client), the package holds the client's files under their
// names ("\\Data\\a.pak"), compressed or stored. From a patch root (--root), it holds
// what the launcher's update run downloads, byte for byte as the patch server serves it
// (file list, its hash, its signature when the release is signed, every file's full
// container, every published diff, the launcher), stored plain under PackEntryNameForUrl
// of the object's URL: a package-mode job whose url is that name receives exactly the
// bytes an HTTP job would have received.
#include <filesystem>
#include <cstdint>
#include <string>
#include <vector>

namespace velm::publish {

struct PackOptions {
    std::filesystem::path client;
    std::filesystem::path root;  // instead of client
    std::filesystem::path launcher;
    std::filesystem::path out;
    bool store = false;  // entries stored as they are instead of LZMA-compressed
    bool quiet = false;
};

int RunPack(const PackOptions& options, std::string& error);

// Writes the 8-byte little-endian value into the "UPDATE" 211 resource of image.
int StampPackageOffset(std::vector<uint8_t>& image, int64_t offset, std::string& error);

}  // namespace velm::publish
