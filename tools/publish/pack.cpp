#include "pack.h"

#include "client_scan.h"
#include "patch_root.h"
#include "paths.h"
#include "pe_resource.h"
#include "progress.h"

#include "common/file_io.h"
#include "common/text.h"
#include "formats/pack_file.h"
#include "formats/pack_format.h"
#include "formats/file_list.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

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

namespace {

int ClientSources(const PackOptions& options, std::vector<PackSource>& sources,
                  std::string& error) {
    std::vector<ClientFile> files;
    if (!ScanClientFolder(options.client, files, error)) return 0;
    for (const ClientFile& file : files) {
        PackSource source;
        source.name = file.name;
        source.path = WidePath(file.path);
        source.flags = options.store ? 0 : kPackFlagLzma;
        source.file_time = file.file_time;
        sources.push_back(source);
    }
    return 1;
}

// The objects of a patch root that an update run may ask for, stored as served.
class RootSources {
public:
    RootSources(const PatchRoot& root, std::vector<PackSource>& sources)
        : root_(root), sources_(sources), base_(TrimBaseUrl(root.list.store_url_root) + L"/") {}

    int Collect(std::string& error) {
        const FileListDocument& list = root_.list;
        if (!Add(base_ + Utf8ToWide(kFileListName), root_.folder / kFileListName, error) ||
            !Add(base_ + Utf8ToWide(kFileListHashName), root_.folder / kFileListHashName, error))
            return 0;
        // A launcher that holds a release key asks the package for the signature too.
        std::error_code ec;
        if (fs::exists(root_.folder / kFileListSigName, ec) &&
            !Add(base_ + Utf8ToWide(kFileListSigName), root_.folder / kFileListSigName, error))
            return 0;
        if (list.has_launcher && !AddUnderBase(list.launcher.url, error)) return 0;
        for (const FileEntry& entry : list.entries) {
            size_t full = FullDownloadRootIndex(entry);
            if (full >= list.url_roots.size() ||
                !Add(list.url_roots[full] + entry.name, EntryPath(root_.version_folders[full], entry.name),
                     error))
                return 0;
            // Every published diff: the run picks the chain from what is installed.
            for (size_t k = 0; k < entry.history.size() && k < list.url_roots.size(); ++k) {
                if (entry.history[k].diff_size <= 0) continue;
                if (!Add(list.url_roots[k] + entry.name + L".diff",
                         EntryPath(root_.version_folders[k], entry.name + L".diff"), error))
                    return 0;
            }
        }
        return 1;
    }

private:
    int AddUnderBase(const std::wstring& url, std::string& error) {
        if (url.compare(0, base_.size(), base_) != 0) {
            error = "URL outside the patch root: " + WideToUtf8(url);
            return 0;
        }
        return Add(url, EntryPath(root_.folder, L"\\" + url.substr(base_.size())), error);
    }

    int Add(const std::wstring& url, const fs::path& file, std::string& error) {
        std::wstring name = PackEntryNameForUrl(url);
        if (!IsSafeEntryName(name)) {
            error = "URL gives no usable entry name: " + WideToUtf8(url);
            return 0;
        }
        std::error_code ec;
        if (!fs::is_regular_file(file, ec)) {
            error = "patch root is missing " + file.u8string() + " (run velm-publish verify)";
            return 0;
        }
        if (!names_.insert(PackLookupKey(name)).second) return 1;
        PackSource source;
        source.name = name;
        source.path = WidePath(file);
        source.flags = 0;
        sources_.push_back(source);
        return 1;
    }

    const PatchRoot& root_;
    std::vector<PackSource>& sources_;
    const std::wstring base_;
    std::set<std::wstring> names_;
};

}  // namespace

int RunPack(const PackOptions& options, std::string& error) {
    std::vector<PackSource> sources;
    if (!options.root.empty()) {
        PatchRoot root;
        if (!LoadPatchRoot(options.root, root, error)) return 0;
        if (root.empty) {
            error = "patch root holds no release: " + options.root.u8string();
            return 0;
        }
        if (!RootSources(root, sources).Collect(error)) return 0;
    } else if (!ClientSources(options, sources, error)) {
        return 0;
    }
    std::vector<uint8_t> image;
    if (!ReadBytes(options.launcher, image)) {
        error = "cannot read the launcher " + options.launcher.u8string();
        return 0;
    }
    // The package starts right after the executable image as it is.
    if (!StampPackageOffset(image, int64_t(image.size()), error)) return 0;
    std::map<std::wstring, uint64_t> sizes;
    uint64_t total = 0;
    for (const PackSource& source : sources) {
        int64_t size = FileSize(source.path);
        sizes[source.path] = uint64_t(std::max<int64_t>(size, 0));
        total += sizes[source.path];
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
    Progress progress("pack", sources.size(), total, options.quiet);
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
