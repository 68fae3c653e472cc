#include "pack.h"

#include "client_scan.h"
#include "paths.h"
#include "pe_resource.h"
#include "progress.h"

#include "common/file_io.h"
#include "common/text.h"
#include "download/pack_format.h"

#include <cstdio>
#include <map>

namespace velm::publish {
namespace fs = std::filesystem;

constexpr uint16_t kPackageResourceId = 211;

int StampPackageOffset(std::vector<uint8_t>& image, int64_t offset, std::string& error) {
    uint64_t at = 0;
    uint32_t size = 0;
    if (!FindPeResource(image, L"UPDATE", kPackageResourceId, at, size, error)) {
        error = "launcher has no UPDATE 211 resource: " + error;
        return 0;
    }
    if (size != 8) {
        error = "launcher's UPDATE 211 resource is " + std::to_string(size) +
                " bytes long, not 8";
        return 0;
    }
    for (int i = 0; i < 8; ++i) image[size_t(at) + i] = uint8_t(uint64_t(offset) >> (8 * i));
    return 1;
}

int RunPack(const PackOptions& options, std::string& error) {
    std::vector<ClientFile> files;
    if (!ScanClientFolder(options.client, files, error)) return 0;
    std::vector<uint8_t> image;
    if (!ReadBytes(options.launcher, image)) {
        error = "cannot read the launcher " + options.launcher.u8string();
        return 0;
    }
    // The package starts right after the executable image as it is.
    if (!StampPackageOffset(image, int64_t(image.size()), error)) return 0;
    std::vector<PackSource> sources;
    uint64_t total = 0;
    for (const ClientFile& file : files) {
        PackSource source;
        source.name = file.name;
        source.path = WidePath(file.path);
        source.flags = options.store ? 0 : kPackFlagLzma;
        source.file_time = file.file_time;
        sources.push_back(source);
        total += uint64_t(file.size);
    }
    fs::path temp = options.out;
    temp += ".new";
    std::error_code ec;
    if (!options.out.parent_path().empty()) fs::create_directories(options.out.parent_path(), ec);
    FileHandle out = OpenFile(WidePath(temp), FileMode::kWrite);
    if (!out || std::fwrite(image.data(), 1, image.size(), out.get()) != image.size()) {
        error = "cannot write " + temp.u8string();
        fs::remove(temp, ec);
        return 0;
    }
    Progress progress("pack", files.size(), total, options.quiet);
    std::map<std::wstring, uint64_t> sizes;
    for (const ClientFile& file : files) sizes[WidePath(file.path)] = uint64_t(file.size);
    std::wstring current;
    PackProgress report = [&](size_t, size_t, const std::wstring& path, uint64_t) {
        if (path == current) return;
        if (!current.empty()) progress.FileDone(sizes[current]);
        current = path;
        progress.BeginFile(WideToUtf8(path));
    };
    bool ok = BuildPack(out.get(), sources, report, error) == 1;
    ok = std::fclose(out.release()) == 0 && ok;
    if (!current.empty()) progress.FileDone(sizes[current]);
    progress.Finish();
    if (ok) fs::rename(temp, options.out, ec);
    if (!ok || ec) {
        if (error.empty()) error = "cannot write " + options.out.u8string();
        fs::remove(temp, ec);
        return 0;
    }
    return 1;
}

}  // namespace velm::publish
