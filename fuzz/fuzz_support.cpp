#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <unistd.h>

#include "common/file_io.h"
#include "common/log.h"
#include "common/text.h"

namespace velm_fuzz {
namespace {

void RemoveScratch() {
    const std::string& folder = ScratchFolder();
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* item = readdir(dir)) {
            std::string name = item->d_name;
            if (name != "." && name != "..") unlink((folder + "/" + name).c_str());
        }
        closedir(dir);
    }
    rmdir(folder.c_str());
}

std::string MakeScratch() {
    // Memory-backed when the system has it: targets write a file or two per input.
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string folder = std::string(base) + "/velm-fuzz-XXXXXX";
    if (!mkdtemp(folder.data())) {
        std::fprintf(stderr, "cannot create a scratch folder under %s\n", base);
        std::abort();
    }
    return folder;
}

}  // namespace

void Fail(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "property failed: %s (%s:%d)\n", condition, file, line);
    std::abort();
}

const std::string& ScratchFolder() {
    // Never destroyed: the exit handler that removes the folder still needs its name.
    static const std::string* folder = [] {
        auto* made = new std::string(MakeScratch());
        velm::LauncherLog::Instance().ReopenForTest(velm::Utf8ToWide(*made + "/launcher.log"));
        std::atexit(RemoveScratch);
        return made;
    }();
    return *folder;
}

std::wstring ScratchPath(const char* name) {
    return velm::Utf8ToWide(ScratchFolder() + "/" + name);
}

void WriteBytes(const std::wstring& path, const uint8_t* data, size_t size) {
    if (!velm::WriteWholeFile(path, data, size)) Fail("scratch file written", __FILE__, __LINE__);
}

std::vector<uint8_t> ReadBytes(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    if (!velm::ReadWholeFile(path, bytes, uint64_t(1) << 32)) bytes.clear();
    return bytes;
}

TwoPieces SplitInput(const uint8_t* data, size_t size) {
    TwoPieces pieces;
    if (size < 2) return pieces;
    size_t want = size_t(data[0]) | size_t(data[1]) << 8;
    size_t first = want < size - 2 ? want : size - 2;
    pieces.first = data + 2;
    pieces.first_size = first;
    pieces.second = data + 2 + first;
    pieces.second_size = size - 2 - first;
    return pieces;
}

std::vector<uint8_t> JoinPieces(const std::vector<uint8_t>& first, const std::vector<uint8_t>& second) {
    std::vector<uint8_t> out = {uint8_t(first.size() & 0xFF), uint8_t(first.size() >> 8)};
    out.insert(out.end(), first.begin(), first.end());
    out.insert(out.end(), second.begin(), second.end());
    return out;
}

}  // namespace velm_fuzz
