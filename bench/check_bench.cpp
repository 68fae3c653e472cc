// The update engine's check phase and diff application, without sanitizers, natively and
// (the Windows build) under Wine, for bench/check-warm.sh, check-cold.sh and patch-apply.sh.
//
//   check_bench prepare BASE LIST CACHE   writes a file list of the installation at BASE
//                                         and a warm hash cache
//   check_bench check BASE LIST CACHE     what the update run does before it downloads:
//                                         load the cache, read the list, plan every entry;
//                                         prints "SECONDS JOBS" (then saves the cache, as
//                                         the run does after its downloads, untimed)
//   check_bench apply OLD DIFF OUT        decodes the ".cmp" diff straight into the patch
//                                         step, checks the MD5 and writes OUT; prints
//                                         "SECONDS"
//
// File names are the list's own ("\\d00\\f00000.dat"), appended to BASE as the launcher
// does: on Windows (and under Wine) BASE is a folder tree; on Linux the backslashes are
// part of one file name beside BASE, which costs the same stat. The Windows build runs
// under Wine for the players' side of check-warm and check-cold.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/cmp_container.h"
#include "common/file_io.h"
#include "common/lzma_decoder.h"
#include "common/md5.h"
#include "common/text.h"
#include "formats/diff_file.h"
#include "formats/file_list.h"
#include "formats/hash_cache.h"
#include "update/file_check_ahead.h"
#include "update/file_list_load.h"
#include "update/update_planning.h"

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The installation's files as (list name, path): on Windows the tree under BASE; elsewhere
// the files beside BASE whose names begin with it, the list's backslashes being part of
// one file name there.
std::vector<std::pair<std::wstring, std::wstring>> InstalledFiles(const std::string& base) {
    std::vector<std::pair<std::wstring, std::wstring>> files;
#ifdef _WIN32
    for (const auto& item : std::filesystem::recursive_directory_iterator(base)) {
        if (!item.is_regular_file()) continue;
        std::wstring name = L"\\" + std::filesystem::relative(item.path(), base).wstring();
        std::replace(name.begin(), name.end(), L'/', L'\\');
        files.emplace_back(name, item.path().wstring());
    }
#else
    const std::filesystem::path folder = std::filesystem::path(base).parent_path();
    const std::string prefix = std::filesystem::path(base).filename().string();
    for (const auto& item : std::filesystem::directory_iterator(folder)) {
        const std::string name = item.path().filename().string();
        if (!item.is_regular_file() || name.compare(0, prefix.size(), prefix) != 0 || name.size() == prefix.size())
            continue;
        files.emplace_back(velm::Utf8ToWide(name.substr(prefix.size())), velm::Utf8ToWide(item.path().string()));
    }
#endif
    return files;
}

int Prepare(const std::string& base, const std::string& list, const std::string& cache_path) {
    velm::FileListDocument document;
    document.url_roots.push_back(L"http://127.0.0.1:1/v1");
    velm::HashCache cache(velm::Utf8ToWide(base));
    for (const auto& [name, path] : InstalledFiles(base)) {
        velm::FileEntry entry;
        entry.name = name;
        velm::Md5Digest digest;
        if (!velm::Md5File(path, digest)) return 3;
        entry.hash = velm::Md5ToHex(digest);
        entry.size_compressed = int32_t(std::filesystem::file_size(std::filesystem::path(path)));
        entry.history.push_back({entry.hash, 0});
        document.entries.push_back(entry);
        cache.UpdateHashCacheEntry(path, entry.hash);
    }
    std::string xml = velm::WriteFileList(document);
    if (!velm::WriteWholeFile(velm::Utf8ToWide(list), xml.data(), xml.size())) return 3;
    cache.SaveLocalHashCache(velm::Utf8ToWide(cache_path));
    std::fprintf(stderr, "%zu files listed\n", document.entries.size());
    return 0;
}

int Check(const std::string& base, const std::string& list, const std::string& cache_path) {
    const Clock::time_point start = Clock::now();
    velm::HashCache cache(velm::Utf8ToWide(base));
    cache.LoadLocalHashCache(velm::Utf8ToWide(cache_path));
    const double cache_loaded = Since(start);
    // As the run reads it: the bytes once, every part from the one parse.
    std::string bytes;
    velm::LoadedFileList loaded;
    velm::FileListLoadError error;
    if (!velm::ReadFileListBytes(velm::Utf8ToWide(list), bytes) ||
        !velm::LoadFileList(velm::Utf8ToWide(list), &bytes, velm::Utf8ToWide(base), loaded, error))
        return 3;
    const velm::FileListDocument& document = loaded.document;
    const double parsed = Since(start);
    std::vector<velm::PlannedJob> jobs;
    std::vector<velm::PatchGroup> groups;
    {
        velm::FileCheckAhead checks(document.entries, cache, false);
        for (size_t i = 0; i < document.entries.size(); ++i)
            velm::PlanCheckedEntry(document.entries[i], checks.Take(i), document.url_roots, cache, jobs, groups);
    }
    const double checked = Since(start);
    std::fprintf(stderr, "cache load %.3f s, list read %.3f s, files checked %.3f s\n", cache_loaded, parsed - cache_loaded,
                 checked - parsed);
    std::printf("%.4f %zu\n", checked, jobs.size());
    cache.SaveLocalHashCache(velm::Utf8ToWide(cache_path));
    return 0;
}

int Apply(const std::string& old_path, const std::string& diff_path, const std::string& out) {
    const Clock::time_point start = Clock::now();
    std::vector<uint8_t> old_bytes, container;
    if (!velm::ReadWholeFile(velm::Utf8ToWide(old_path), old_bytes, 0x7FFFFFFF) ||
        !velm::ReadWholeFile(velm::Utf8ToWide(diff_path), container, 0x7FFFFFFF) ||
        container.size() < velm::kCmpHeaderSize)
        return 3;
    uint8_t header[velm::kCmpHeaderSize];
    std::memcpy(header, container.data(), sizeof header);
    uint64_t at = 0;
    velm::LzmaHeader lzma;
    if (!velm::ParseCmpPrefix(header, container.size(), at) ||
        !velm::ParseLzmaHeader(container.data() + at, container.size() - size_t(at), lzma))
        return 3;
    const double read = Since(start);
    // The decoded diff streams into the patch step, as it arrives from the container.
    velm::DiffStreamApplier applier(old_bytes.data(), old_bytes.size(), lzma.uncompressed_size);
    size_t offset = size_t(at);
    auto take = [&](uint8_t* buffer, size_t want) -> int64_t {
        size_t n = std::min(want, container.size() - offset);
        std::memcpy(buffer, container.data() + offset, n);
        offset += n;
        return int64_t(n);
    };
    auto feed = [&](const uint8_t* data, size_t size) { return applier.Feed(data, size); };
    if (velm::DecodeLzmaStream(take, feed, 0x7FFFFFFF) != 1 || !applier.Finish()) {
        std::fprintf(stderr, "%s\n", applier.Error().c_str());
        return 3;
    }
    const double applied = Since(start);
    if (!velm::WriteWholeFile(velm::Utf8ToWide(out), applier.Result().data(), applier.Result().size())) return 3;
    const double done = Since(start);
    std::fprintf(stderr, "read %.3f s, decode and apply %.3f s, MD5 check included; write %.3f s\n", read,
                 applied - read, done - applied);
    std::printf("%.4f\n", done);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: check_bench prepare|check|apply A B C\n");
        return 2;
    }
    const std::string mode = argv[1];
    if (mode == "prepare") return Prepare(argv[2], argv[3], argv[4]);
    if (mode == "check") return Check(argv[2], argv[3], argv[4]);
    if (mode == "apply") return Apply(argv[2], argv[3], argv[4]);
    return 2;
}
