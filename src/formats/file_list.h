#pragma once
// The file list published by the patch server: URL roots (newest version first), one
// entry per client file with its diff history, the launcher's own download and the
// post-update script; and its ".hash" companion. Reader and writer of the document.
//
// The reader treats the document as untrusted: sizes are decimal and range-checked,
// names that could leave the installation folder are rejected, counts are capped, and
// every entry must be reachable through the URL roots the list carries.
//
// Beside the MD5 a list may carry, for every object the launcher ends up with, its
// SHA-256 and its decoded size (ContentDigest): on a file entry and on a "histroy" child
// "sha256" and "file_size" describe that version of the file, "diff_sha256" and
// "diff_file_size" the decoded diff that makes it from the next older version; on
// "LauncherCompressed" "sha256" and "file_size" describe the launcher. Each pair is
// optional, but one half without the other is refused. Readers that do not know them
// ignore them; under a release key they are what binds every object to the signed list.
#include "common/md5.h"
#include "formats/content_digest.h"
#include "formats/entry_name.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace velm {

struct HistoryVersion {
    // Lists without the content digests name a version by its hash and diff alone.
    HistoryVersion(std::wstring version_hash = {}, int32_t version_diff_size = 0, ContentDigest version_content = {},
                   ContentDigest version_diff = {})
        : hash(std::move(version_hash)),
          diff_size(version_diff_size),
          content(version_content),
          diff(version_diff) {}

    std::wstring hash;
    int32_t diff_size = 0;  // diff from the next older version to this one; 0 = none
    ContentDigest content;  // this version of the file
    ContentDigest diff;     // the decoded diff from the next older version to this one
};

struct FileEntry {
    std::wstring name;       // relative to the client base directory, starts with "\\"
    std::wstring full_path;  // base directory followed by name
    std::wstring hash;
    int32_t size_compressed = 0;
    uint32_t flags = 0;
    int32_t diff_size = 0;
    ContentDigest content;
    ContentDigest diff;
    // Element 0 is the current version (hash, diff_size, content, diff), then the
    // "histroy" children.
    std::vector<HistoryVersion> history;
};

struct LauncherEntry {
    LauncherEntry(std::wstring launcher_url = {}, std::wstring launcher_hash = {}, int32_t launcher_size_compressed = 0,
                  ContentDigest launcher_content = {})
        : url(std::move(launcher_url)),
          hash(std::move(launcher_hash)),
          size_compressed(launcher_size_compressed),
          content(launcher_content) {}

    std::wstring url;
    std::wstring hash;
    int32_t size_compressed = 0;
    ContentDigest content;
};

struct ScriptCommand {
    std::wstring name;
    std::vector<std::wstring> args;
};

struct FileListDocument {
    std::wstring store_url_root;
    std::vector<std::wstring> url_roots;  // index k belongs to the version k releases old
    std::vector<FileEntry> entries;
    bool has_launcher = false;
    LauncherEntry launcher;
    bool has_script = false;
    std::vector<ScriptCommand> script;
};

constexpr size_t kMaxFileListBytes = 64u << 20;
constexpr size_t kMaxFileEntries = 1000000;
constexpr size_t kMaxHistory = 1000;
constexpr size_t kMaxUrlRoots = 1000;
constexpr size_t kMaxScriptArgs = 100;
constexpr size_t kMaxNameChars = kMaxEntryNameChars;

// Why the reader left an entry out of the list it returns.
enum class EntryRejection {
    kUnsafeName,       // the name could leave the installation folder or name a device
    kCaseCollision,    // the name differs from an earlier entry's only in letter case
    kMissingUrlRoot,   // its history needs more URL roots than the list carries
};

struct RejectedEntry {
    std::wstring name;  // at most kMaxNameChars characters
    EntryRejection why = EntryRejection::kUnsafeName;
};

// Index of the URL root that holds the full current file: the first history version
// with a published diff, else the last one.
size_t FullDownloadRootIndex(const FileEntry& entry);

// Parses the XML, which must be UTF-8 (valid, declared so or undeclared) or UTF-16 (told
// by its byte-order mark or its first character); a list in any other encoding is refused rather than read with
// mangled names. base_directory is prefixed to every name for full_path. Returns 1 on
// success, 0 with an English reason in error. An entry that cannot be used as it stands
// (see EntryRejection) rejects the whole list, unless rejected is given: such entries are
// then left out and collected there, so that the launcher can update the rest and
// report each of them.
int ParseFileList(const std::string& xml, const std::wstring& base_directory,
                  FileListDocument& document, std::string& error,
                  std::vector<RejectedEntry>* rejected = nullptr);

// Empty when every object of the document carries what a signed release needs to vouch
// for it: each entry an MD5 and its content digest, each history version that a diff
// makes both digests, the launcher its content digest. Otherwise the first object that
// lacks one, as "NAME : what is missing" for the run's error list.
std::wstring FindUnvouchedObject(const FileListDocument& document);

// Every occurrence of search in value replaced, left to right, resuming after each
// inserted replacement (so a replacement containing search is not replaced again). An
// empty search leaves value as it is.
std::wstring ReplaceUrlRoot(const std::wstring& value, const std::wstring& search,
                            const std::wstring& replacement);

// The document as UTF-8 XML; ParseFileList reads it back unchanged.
std::string WriteFileList(const FileListDocument& document);

// The companion: the MD5 of the decoded XML as 32 upper-case hexadecimal digits in
// UTF-16LE, no byte-order mark, no line end.
std::string FileListHashCompanion(const std::string& xml);

}  // namespace velm
