#pragma once
// A patch root made by velm-publish:
//
//   PATCHROOT/filelist.xml        the file list in a ".cmp" container
//   PATCHROOT/filelist.xml.hash   MD5 of the decoded list, UTF-16LE hexadecimal
//   PATCHROOT/filelist.xml.sig    the release signature, when the release is signed
//   PATCHROOT/vN/...              version N: full files and ".diff" files that changed in
//                                 it, each in a ".cmp" container, at the entry's name
//   PATCHROOT/vN/.launcher/VelmLauncher.exe   the launcher, when it changed in version N
//
// URL root k of the list is the base URL followed by "/" and the folder of the version
// k releases old, so a root's last path segment names its folder.
#include "formats/file_list.h"
#include "formats/release_signature.h"

#include <filesystem>
#include <string>
#include <vector>

namespace velm::publish {

extern const char kFileListName[];
extern const char kFileListHashName[];
extern const char kFileListSigName[];
extern const char kLauncherFolder[];

struct PatchRoot {
    std::filesystem::path folder;
    bool empty = true;  // no release yet
    FileListDocument list;
    std::string xml;
    std::vector<std::filesystem::path> version_folders;  // aligned with list.url_roots
    int newest_version = 0;
};

// Reads the current release. An absent or empty folder is an empty patch root; a folder
// with other content, or a list this tool did not write, is refused with a reason.
bool LoadPatchRoot(const std::filesystem::path& folder, PatchRoot& root, std::string& error);

// The root's "filelist.xml.sig": present false when there is none; 0 with a reason when
// there is one that does not read as a signature file.
bool ReadRootSignature(const std::filesystem::path& folder, bool& present,
                       ReleaseSignature& signature, std::string& error);

// Where the root keeps the launcher its list publishes: the launcher's URL below the
// list's base URL, as a path below the root's folder. False when the URL is not below it.
bool PublishedLauncherPath(const PatchRoot& root, std::filesystem::path& path);

// "vN" for a version number; 0 when text is not such a name.
std::string VersionFolderName(int version);
int ParseVersionFolderName(const std::string& text);

// The URL without a trailing "/".
std::wstring TrimBaseUrl(const std::wstring& url);

}  // namespace velm::publish
