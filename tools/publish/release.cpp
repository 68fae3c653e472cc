#include "release.h"

#include "client_scan.h"
#include "diff_generator.h"
#include "patch_root.h"
#include "paths.h"
#include "pe_debug.h"
#include "progress.h"
#include "script_file.h"
#include "signing.h"

#include "formats/cmp_container.h"
#include "common/text.h"
#include "formats/file_list.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

namespace velm::publish {
namespace fs = std::filesystem;
namespace {

constexpr uint32_t kFlagCompressed = 1;
// Compressing and diffing a file holds about twelve times its size (measured: a 32 MiB
// file peaks near 400 MiB); files run side by side only while their estimates stay
// within the budget, whatever the number of cores.
constexpr uint64_t kMemoryPerFileByte = 12;
constexpr uint64_t kInFlightMemoryBudget = uint64_t(1536) << 20;

// Removes a folder tree when the run ends without committing it.
class TempFolder {
public:
    explicit TempFolder(fs::path path) : path_(std::move(path)) {}
    ~TempFolder() {
        std::error_code ignored;
        if (!path_.empty()) fs::remove_all(path_, ignored);
    }
    void Release() { path_.clear(); }

private:
    fs::path path_;
};

bool EncodeTo(const fs::path& path, const std::vector<uint8_t>& bytes, int32_t& stored_size,
              std::string& error, const LzmaEncoderSettings& settings = {}) {
    std::vector<uint8_t> container;
    if (!WriteCmp(bytes.data(), bytes.size(), container, settings)) {
        error = "compression failed for " + path.u8string();
        return false;
    }
    if (container.size() > size_t(INT32_MAX)) {
        error = "compressed file over 2 GiB cannot be listed: " + path.u8string();
        return false;
    }
    if (!WriteBytes(path, container.data(), container.size())) {
        error = "cannot write " + path.u8string();
        return false;
    }
    stored_size = int32_t(container.size());
    return true;
}

// The previous version's bytes, from the root that holds its full file.
bool LoadPublished(const PatchRoot& root, const FileEntry& entry, std::vector<uint8_t>& bytes,
                   std::string& error) {
    fs::path path = EntryPath(root.version_folders[FullDownloadRootIndex(entry)], entry.name);
    std::vector<uint8_t> stored;
    bool ok = ReadBytes(path, stored);
    if (ok && (entry.flags & kFlagCompressed)) {
        ok = DecodeCmp(stored.data(), stored.size(), bytes, kMaxDiffFileSize);
    } else {
        bytes.swap(stored);
    }
    if (!ok || !HashTextEquals(Md5ToHex(Md5Bytes(bytes.data(), bytes.size())), entry.hash)) {
        error = "previous release damaged: " + path.u8string() +
                " is missing or does not match its published hash";
        return false;
    }
    return true;
}

void CutHistory(FileEntry& entry, size_t max_history) {
    size_t keep = std::max(max_history + 1, FullDownloadRootIndex(entry) + 1);
    if (entry.history.size() <= keep) return;
    entry.history.resize(keep);
    // The step into the oldest kept version starts from a version no longer listed.
    entry.history.back().diff_size = 0;
}

std::wstring Rebase(const std::wstring& url, const std::wstring& old_base,
                    const std::wstring& new_base) {
    if (!old_base.empty() && url.compare(0, old_base.size(), old_base) == 0)
        return new_base + url.substr(old_base.size());
    return url;
}

// Every player downloads the launcher at install time and with each self-update; its
// debug information belongs in the symbols file the build keeps beside it. Shown even
// with --quiet: it is a warning, not progress.
void WarnIfUnstripped(const fs::path& launcher, const std::vector<uint8_t>& bytes) {
    std::vector<std::string> sections;
    std::string ignored;
    if (!FindPeDebugSections(bytes, sections, ignored) || sections.empty()) return;
    std::fprintf(stderr,
                 "release: warning: the launcher %s carries debug information (%s and %zu more "
                 "debug sections); publish the stripped build, whose symbols stay in "
                 "VelmLauncher.exe.debug\n",
                 launcher.u8string().c_str(), sections[0].c_str(), sections.size() - 1);
}

// How the run treats "filelist.xml.sig".
struct SigningPlan {
    bool sign = false;
    bool remove_stale = false;  // --unsigned into a signed root
    std::string pem;
    ReleaseSignature signature;  // serial and expiry set; the rest comes from signing
};

class Release {
public:
    Release(const ReleaseOptions& options, const PatchRoot& previous, SigningPlan& signing)
        : options_(options), previous_(previous), signing_(signing),
          base_(TrimBaseUrl(options.base_url)) {}

    bool Run(std::string& error);

private:
    struct FileOutcome {
        bool changed = false;
        bool diffed = false;
    };
    bool PublishFile(const ClientFile& file, FileEntry& entry, FileOutcome& outcome,
                     std::string& error) const;
    bool PublishFiles(const std::vector<ClientFile>& files, Progress& progress, std::string& error);
    bool PublishLauncher(std::string& error);
    bool Commit(std::string& error);

    const ReleaseOptions& options_;
    const PatchRoot& previous_;
    SigningPlan& signing_;
    std::wstring base_;
    int version_ = 0;
    fs::path staging_;
    FileListDocument list_;
    std::map<std::wstring, const FileEntry*> previous_entries_;
    size_t changed_ = 0, diffs_ = 0;
};

// Runs on a worker thread: touches only its own file, entry and outcome, and reads what
// no other thread writes.
bool Release::PublishFile(const ClientFile& file, FileEntry& entry, FileOutcome& outcome,
                          std::string& error) const {
    std::vector<uint8_t> bytes;
    if (!ReadBytes(file.path, bytes)) {
        error = "cannot read " + file.path.u8string();
        return false;
    }
    if (bytes.size() > kMaxDiffFileSize) {
        error = "file over 2 GiB cannot be published: " + file.path.u8string();
        return false;
    }
    entry.name = file.name;
    entry.hash = Md5ToHex(Md5Bytes(bytes.data(), bytes.size()));
    entry.flags = kFlagCompressed;
    auto found = previous_entries_.find(AsciiUpper(file.name));
    const FileEntry* before = found == previous_entries_.end() ? nullptr : found->second;
    if (before && HashTextEquals(before->hash, entry.hash) &&
        (before->flags & kFlagCompressed)) {
        entry.size_compressed = before->size_compressed;
        entry.history = before->history;
        entry.history[0].hash = entry.hash;
        entry.history.insert(entry.history.begin(), HistoryVersion{entry.hash, 0});
    } else {
        outcome.changed = true;
        if (!EncodeTo(EntryPath(staging_, file.name), bytes, entry.size_compressed, error))
            return false;
        entry.history = {HistoryVersion{entry.hash, 0}};
        if (before) {
            std::vector<uint8_t> old_bytes;
            DiffFile diff;
            if (!LoadPublished(previous_, *before, old_bytes, error) ||
                !MakeDiff(old_bytes.data(), old_bytes.size(), bytes.data(), bytes.size(), diff,
                          error))
                return false;
            fs::path diff_path = EntryPath(staging_, file.name + L".diff");
            if (!EncodeTo(diff_path, SerializeDiffFile(diff), entry.history[0].diff_size, error,
                          DiffContainerSettings()))
                return false;
            outcome.diffed = true;
            entry.history.insert(entry.history.end(), before->history.begin(),
                                 before->history.end());
        }
    }
    entry.diff_size = entry.history[0].diff_size;
    CutHistory(entry, options_.max_history);
    return true;
}

// Files are compressed and diffed on up to options_.jobs threads, one file per thread,
// each into its own slot: the list and every byte written are the same whatever the
// thread count. A file starts only while the memory estimated for the files in flight
// stays within kInFlightMemoryBudget (a file over it runs alone).
bool Release::PublishFiles(const std::vector<ClientFile>& files, Progress& progress,
                           std::string& error) {
    std::vector<FileEntry> entries(files.size());
    std::vector<std::string> errors(files.size());
    std::mutex lock;
    std::condition_variable room;
    size_t next = 0;
    uint64_t in_flight = 0;
    bool failed = false;
    auto work = [&] {
        std::unique_lock<std::mutex> held(lock);
        for (;;) {
            room.wait(held, [&] {
                return failed || next == files.size() || in_flight == 0 ||
                       in_flight + uint64_t(files[next].size) * kMemoryPerFileByte <= kInFlightMemoryBudget;
            });
            if (failed || next == files.size()) return;
            const size_t index = next++;
            const uint64_t size = uint64_t(files[index].size) * kMemoryPerFileByte;
            in_flight += size;
            progress.BeginFile(WideToUtf8(files[index].name));
            held.unlock();
            FileOutcome outcome;
            const bool ok = PublishFile(files[index], entries[index], outcome, errors[index]);
            held.lock();
            in_flight -= size;
            if (!ok) failed = true;
            changed_ += outcome.changed;
            diffs_ += outcome.diffed;
            progress.FileDone(size);
            room.notify_all();
        }
    };
    std::vector<std::thread> workers;
    const size_t extra = std::min(options_.jobs, std::max<size_t>(files.size(), 1)) - 1;
    for (size_t i = 0; i < extra; ++i) {
        try {
            workers.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // fewer threads do the same work
        }
    }
    work();
    for (std::thread& worker : workers) worker.join();
    if (failed) {
        // The first failing file in list order, as a run on one thread would report it.
        for (const std::string& reason : errors) {
            if (!reason.empty()) {
                error = reason;
                break;
            }
        }
        return false;
    }
    list_.entries = std::move(entries);
    return true;
}

bool Release::PublishLauncher(std::string& error) {
    const FileListDocument& before = previous_.list;
    std::wstring old_base = TrimBaseUrl(before.store_url_root);
    if (options_.launcher.empty()) {
        list_.has_launcher = before.has_launcher;
        list_.launcher = before.launcher;
        list_.launcher.url = Rebase(before.launcher.url, old_base, base_);
        return true;
    }
    std::vector<uint8_t> bytes;
    if (!ReadBytes(options_.launcher, bytes) || bytes.empty()) {
        error = "cannot read the launcher " + options_.launcher.u8string();
        return false;
    }
    WarnIfUnstripped(options_.launcher, bytes);
    list_.has_launcher = true;
    list_.launcher.hash = Md5ToHex(Md5Bytes(bytes.data(), bytes.size()));
    if (before.has_launcher && HashTextEquals(before.launcher.hash, list_.launcher.hash)) {
        list_.launcher.url = Rebase(before.launcher.url, old_base, base_);
        list_.launcher.size_compressed = before.launcher.size_compressed;
        return true;
    }
    std::string relative =
        VersionFolderName(version_) + "/" + kLauncherFolder + "/VelmLauncher.exe";
    list_.launcher.url = base_ + L"/" + Utf8ToWide(relative);
    return EncodeTo(staging_ / kLauncherFolder / "VelmLauncher.exe", bytes,
                    list_.launcher.size_compressed, error);
}

bool Release::Commit(std::string& error) {
    std::string xml = WriteFileList(list_);
    std::string check_error;
    FileListDocument reread;
    if (!ParseFileList(xml, L"", reread, check_error)) {
        error = "internal error: written file list does not read back: " + check_error;
        return false;
    }
    std::vector<uint8_t> container;
    if (!WriteCmp(reinterpret_cast<const uint8_t*>(xml.data()), xml.size(), container)) {
        error = "cannot compress the file list";
        return false;
    }
    std::string companion = FileListHashCompanion(xml);
    std::string signature;
    if (signing_.sign) {
        if (!SignRelease(signing_.pem, xml, signing_.signature, error)) return false;
        signature = EncodeReleaseSignature(signing_.signature);
    }
    const fs::path& root = options_.root;
    fs::path list_tmp = root / ".filelist.xml.new", hash_tmp = root / ".filelist.xml.hash.new";
    fs::path sig_tmp = root / ".filelist.xml.sig.new";
    TempFolder list_guard(list_tmp), hash_guard(hash_tmp), sig_guard(sig_tmp);
    if (!WriteBytes(list_tmp, container.data(), container.size()) ||
        !WriteBytes(hash_tmp, companion.data(), companion.size()) ||
        (signing_.sign && !WriteBytes(sig_tmp, signature.data(), signature.size()))) {
        error = "cannot write the file list into " + root.u8string();
        return false;
    }
    std::error_code ec;
    fs::path version_folder = root / VersionFolderName(version_);
    fs::rename(staging_, version_folder, ec);
    if (ec) {
        error = "cannot move the new version into place: " + ec.message();
        return false;
    }
    // The list goes live before its companion: a launcher that meets the old companion
    // with the new list only downloads the list once more. The signature comes last; a
    // launcher that meets it with the other list refuses that run, and the next run finds
    // both in place.
    fs::rename(list_tmp, root / kFileListName, ec);
    if (!ec) fs::rename(hash_tmp, root / kFileListHashName, ec);
    if (!ec && signing_.sign) fs::rename(sig_tmp, root / kFileListSigName, ec);
    if (!ec && signing_.remove_stale) fs::remove(root / kFileListSigName, ec);
    if (ec) {
        error = "cannot replace the file list: " + ec.message();
        return false;
    }
    list_guard.Release();
    hash_guard.Release();
    return true;
}

bool Release::Run(std::string& error) {
    std::vector<ClientFile> files;
    if (!ScanClientFolder(options_.client, files, error)) return false;
    const std::wstring reserved = AsciiUpper(L"\\" + Utf8ToWide(kLauncherFolder) + L"\\");
    for (const ClientFile& file : files) {
        if (AsciiUpper(file.name).compare(0, reserved.size(), reserved) == 0) {
            error = "client folder must not contain a top-level \"" +
                    std::string(kLauncherFolder) + "\" entry";
            return false;
        }
    }
    for (const FileEntry& entry : previous_.list.entries)
        previous_entries_.emplace(AsciiUpper(entry.name), &entry);
    std::error_code ec;
    fs::create_directories(options_.root, ec);
    version_ = previous_.newest_version + 1;
    // A version folder that no list refers to is what a run that failed between moving
    // the folder and replacing the list leaves behind.
    while (fs::exists(options_.root / VersionFolderName(version_), ec)) {
        fs::remove_all(options_.root / VersionFolderName(version_), ec);
        if (ec) {
            error = "cannot remove the unpublished folder " + VersionFolderName(version_);
            return false;
        }
    }
    staging_ = options_.root / ("." + VersionFolderName(version_) + ".new");
    fs::remove_all(staging_, ec);
    TempFolder staging_guard(staging_);
    if (!fs::create_directories(staging_, ec)) {
        error = "cannot create " + staging_.u8string();
        return false;
    }
    list_.store_url_root = base_;
    list_.url_roots.push_back(base_ + L"/" + Utf8ToWide(VersionFolderName(version_)));
    for (const fs::path& folder : previous_.version_folders)
        list_.url_roots.push_back(base_ + L"/" + WidePath(folder.filename()));
    uint64_t total = 0;
    for (const ClientFile& file : files) total += uint64_t(file.size);
    Progress progress("release", files.size(), total, options_.quiet);
    if (!PublishFiles(files, progress, error)) return false;
    progress.Finish();
    if (!PublishLauncher(error)) return false;
    if (!options_.script.empty()) {
        list_.has_script = true;
        if (!ReadScriptFile(options_.script, list_.script, error)) return false;
    } else {
        list_.has_script = previous_.list.has_script;
        list_.script = previous_.list.script;
    }
    if (!Commit(error)) return false;
    staging_guard.Release();
    if (!options_.quiet) {
        std::fprintf(stderr, "release: published %s (%zu files, %zu changed, %zu diffs)\n",
                     VersionFolderName(version_).c_str(), files.size(), changed_, diffs_);
        if (signing_.sign) {
            std::fprintf(stderr, "release: signed as release serial %llu\n",
                         static_cast<unsigned long long>(signing_.signature.serial));
        }
    }
    return true;
}

// Settles signing before any work: the key must load, and the serial continues the
// root's, so that launchers, which refuse a serial lower than one they have seen, accept
// the release.
bool PlanSigning(const ReleaseOptions& options, SigningPlan& plan, std::string& error) {
    bool root_signed = false;
    ReleaseSignature last;
    const bool readable = ReadRootSignature(options.root, root_signed, last, error);
    // Going unsigned removes whatever signature file is there, readable or not.
    if (options.unsigned_release) {
        error.clear();
        plan.remove_stale = root_signed;
        return true;
    }
    if (!readable) return false;
    if (options.sign_key.empty()) {
        if (root_signed) {
            error = "the current release in " + options.root.u8string() +
                    " is signed (" + kFileListSigName +
                    "); sign this one with --sign-key, or give --unsigned to publish unsigned"
                    " from now on";
            return false;
        }
        return true;
    }
    // Everything in the root gets uploaded and served.
    std::error_code ec;
    fs::path root = fs::weakly_canonical(fs::absolute(options.root, ec), ec);
    if (!root.has_filename()) root = root.parent_path();  // "root/" before it exists
    const fs::path key_path = fs::weakly_canonical(fs::absolute(options.sign_key, ec), ec);
    if (!root.empty() && !key_path.empty() &&
        std::mismatch(root.begin(), root.end(), key_path.begin(), key_path.end()).first == root.end()) {
        error = "the signing key must not lie inside the patch root, which is served: " +
                options.sign_key.u8string();
        return false;
    }
    ReleasePublicKey key{};
    Sha256Digest key_digest{};
    if (!ReadSigningKey(options.sign_key, plan.pem, key, error) ||
        !Sha256Of(key.data(), key.size(), key_digest, error))
        return false;
    if (root_signed && last.serial == UINT64_MAX) {
        error = "the root's release serial cannot grow any further";
        return false;
    }
    const std::string channel = "live";
    if (!Sha256Of(channel.data(), channel.size(), plan.signature.channel_id, error)) return false;
    plan.sign = true;
    plan.signature.serial = root_signed ? last.serial + 1 : 1;
    if (options.expires_days > 0)
        plan.signature.expires = uint64_t(std::time(nullptr)) + uint64_t(options.expires_days) * 86400;
    if (root_signed && last.key_id != KeyIdFromDigest(key_digest) && !options.quiet) {
        std::fprintf(stderr,
                     "release: note: the previous release was signed with another key; "
                     "launchers that hold only that key will refuse this release\n");
    }
    return true;
}

}  // namespace

size_t DefaultReleaseJobs() { return std::max(1u, std::thread::hardware_concurrency()); }

int RunRelease(const ReleaseOptions& options, std::string& error) {
    if (options.base_url.empty()) {
        error = "--base-url is empty";
        return 0;
    }
    PatchRoot previous;
    if (!LoadPatchRoot(options.root, previous, error)) return 0;
    SigningPlan signing;
    if (!PlanSigning(options, signing, error)) return 0;
    Release release(options, previous, signing);
    return release.Run(error) ? 1 : 0;
}

}  // namespace velm::publish
