#include "patch_root.h"

#include "paths.h"

#include "formats/cmp_container.h"
#include "common/file_io.h"
#include "common/text.h"

namespace velm::publish {
namespace fs = std::filesystem;

const char kFileListName[] = "filelist.xml";
const char kFileListHashName[] = "filelist.xml.hash";
const char kFileListSigName[] = "filelist.xml.sig";
const char kLauncherFolder[] = ".launcher";

std::string VersionFolderName(int version) { return "v" + std::to_string(version); }

int ParseVersionFolderName(const std::string& text) {
    if (text.size() < 2 || text.size() > 7 || text[0] != 'v' || text[1] == '0') return 0;
    int version = 0;
    for (size_t i = 1; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return 0;
        version = version * 10 + (text[i] - '0');
    }
    return version;
}

std::wstring TrimBaseUrl(const std::wstring& url) {
    std::wstring trimmed = url;
    while (!trimmed.empty() && trimmed.back() == L'/') trimmed.pop_back();
    return trimmed;
}

bool ReadRootSignature(const fs::path& folder, bool& present, ReleaseSignature& signature,
                       std::string& error) {
    const fs::path path = folder / kFileListSigName;
    std::error_code ec;
    present = fs::exists(path, ec);
    if (!present) return true;
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(WidePath(path), bytes, kReleaseSignatureSizeV2)) {
        error = path.u8string() + " is unreadable or longer than a signature file";
        return false;
    }
    std::string reason;
    if (!ParseReleaseSignature(std::string(bytes.begin(), bytes.end()), signature, reason)) {
        error = path.u8string() + ": " + reason;
        return false;
    }
    return true;
}

bool LoadPatchRoot(const fs::path& folder, PatchRoot& root, std::string& error) {
    root = PatchRoot();
    root.folder = folder;
    std::error_code ec;
    if (!fs::exists(folder, ec)) return true;
    if (!fs::is_directory(folder, ec)) {
        error = "patch root is not a folder: " + folder.u8string();
        return false;
    }
    fs::path list_path = folder / kFileListName;
    if (!fs::exists(list_path, ec)) {
        if (fs::directory_iterator(folder, ec) != fs::directory_iterator()) {
            error = "patch root was not made by velm-publish (no " + std::string(kFileListName) +
                    ", but not empty): " + folder.u8string();
            return false;
        }
        return true;
    }
    std::vector<uint8_t> container, xml;
    if (!ReadBytes(list_path, container)) {
        error = "cannot read " + list_path.u8string();
        return false;
    }
    if (container.size() < sizeof kCmpMagic ||
        std::string(container.begin(), container.begin() + sizeof kCmpMagic) !=
            std::string(kCmpMagic, sizeof kCmpMagic)) {
        error = "patch root was not made by velm-publish (unknown file list container)";
        return false;
    }
    if (!DecodeCmp(container.data(), container.size(), xml, kMaxFileListBytes)) {
        error = "file list container is damaged: " + list_path.u8string();
        return false;
    }
    root.xml.assign(xml.begin(), xml.end());
    if (!ParseFileList(root.xml, L"", root.list, error)) {
        error = "file list unreadable: " + error;
        return false;
    }
    for (const std::wstring& url : root.list.url_roots) {
        std::string segment = WideToUtf8(url.substr(url.rfind(L'/') + 1));
        int version = ParseVersionFolderName(segment);
        if (version == 0) {
            error = "URL root does not end in a version folder: " + WideToUtf8(url);
            return false;
        }
        root.version_folders.push_back(folder / segment);
        if (version > root.newest_version) root.newest_version = version;
    }
    if (root.list.url_roots.empty()) {
        error = "file list has no URL roots";
        return false;
    }
    root.empty = false;
    return true;
}

}  // namespace velm::publish
