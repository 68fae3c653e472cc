#include "verify.h"

#include "diff_generator.h"
#include "patch_root.h"
#include "paths.h"
#include "progress.h"
#include "script_file.h"
#include "sha256.h"
#include "signing.h"

#include "formats/cmp_container.h"
#include "common/text.h"
#include "formats/diff_file.h"
#include "formats/file_list.h"

#include <ctime>
#include <set>

namespace velm::publish {
namespace fs = std::filesystem;
namespace {

constexpr uint32_t kFlagCompressed = 1;

class Verifier {
public:
    Verifier(const PatchRoot& root, VerifyReport& report) : root_(root), report_(report) {}

    void CheckCompanion();
    void CheckEntry(const FileEntry& entry);
    void CheckLauncher();
    void CheckScript();
    void CheckSignature(const VerifyOptions& options, uint64_t now);

private:
    void Problem(const std::string& text) { report_.problems.push_back(text); }
    // Compares bytes with the SHA-256 and size a list gives them, when it gives them.
    void CheckDigest(const ContentDigest& listed, const std::vector<uint8_t>& bytes, const std::string& what);
    // Reads a stored object and checks its size; decodes it when flags say so.
    bool Load(const fs::path& path, int64_t expected_size, uint32_t flags,
              std::vector<uint8_t>& bytes, const std::string& what);
    void CheckDiff(const FileEntry& entry, size_t k);

    const PatchRoot& root_;
    VerifyReport& report_;
};

bool Verifier::Load(const fs::path& path, int64_t expected_size, uint32_t flags,
                    std::vector<uint8_t>& bytes, const std::string& what) {
    std::vector<uint8_t> stored;
    if (!ReadBytes(path, stored)) {
        Problem(what + ": missing " + path.u8string());
        return false;
    }
    if (expected_size >= 0 && int64_t(stored.size()) != expected_size) {
        Problem(what + ": " + path.u8string() + " has " + std::to_string(stored.size()) +
                " bytes, the list says " + std::to_string(expected_size));
        return false;
    }
    if (!(flags & kFlagCompressed)) {
        bytes.swap(stored);
        return true;
    }
    if (!DecodeCmp(stored.data(), stored.size(), bytes, kMaxDiffFileSize)) {
        Problem(what + ": damaged container " + path.u8string());
        return false;
    }
    return true;
}

void Verifier::CheckDigest(const ContentDigest& listed, const std::vector<uint8_t>& bytes,
                           const std::string& what) {
    if (!listed.present) return;
    ContentDigest actual;
    std::string error;
    if (!ContentDigestOf(bytes, actual, error)) {
        Problem(what + ": " + error);
    } else if (actual.size != listed.size) {
        Problem(what + " has " + std::to_string(actual.size) + " bytes decoded, the list says " +
                std::to_string(listed.size));
    } else if (actual.sha256 != listed.sha256) {
        Problem(what + " does not match its listed SHA-256");
    }
}

void Verifier::CheckCompanion() {
    std::vector<uint8_t> companion;
    if (!ReadBytes(root_.folder / kFileListHashName, companion)) {
        Problem(std::string("missing ") + kFileListHashName);
        return;
    }
    if (std::string(companion.begin(), companion.end()) != FileListHashCompanion(root_.xml))
        Problem(std::string(kFileListHashName) + " does not hold the MD5 of the file list");
}

void Verifier::CheckDiff(const FileEntry& entry, size_t k) {
    const std::string name = WideToUtf8(entry.name);
    const auto& history = entry.history;
    if (k + 1 >= history.size()) {
        Problem(name + ": diff for version " + std::to_string(k) + " but no older version");
        return;
    }
    std::vector<uint8_t> bytes;
    fs::path path = EntryPath(root_.version_folders[k], entry.name + L".diff");
    if (!Load(path, history[k].diff_size, entry.flags, bytes, name)) return;
    ++report_.diffs;
    DiffFile diff;
    std::string error;
    CheckDigest(history[k].diff, bytes, name + ": " + path.u8string());
    if (!ParseDiffFile(bytes.data(), bytes.size(), diff, error)) {
        Problem(name + ": " + path.u8string() + ": " + error);
        return;
    }
    if (!HashTextEquals(Md5ToHex(diff.new_md5), history[k].hash)) {
        Problem(name + ": " + path.u8string() + " does not produce version " + std::to_string(k));
        return;
    }
    // The full file of version k+1 lies in the root of the first version, from k+1 on,
    // that has a diff of its own, or in the last one.
    size_t j = k + 1;
    while (j + 1 < history.size() && history[j].diff_size == 0 &&
           history[j + 1].hash == history[k + 1].hash)
        ++j;
    std::vector<uint8_t> old_bytes, result;
    fs::path old_path = EntryPath(root_.version_folders[j], entry.name);
    if (!Load(old_path, -1, entry.flags, old_bytes, name)) return;
    if (!HashTextEquals(Md5ToHex(Md5Bytes(old_bytes.data(), old_bytes.size())),
                        history[k + 1].hash)) {
        Problem(name + ": " + old_path.u8string() + " is not version " + std::to_string(k + 1));
        return;
    }
    CheckDigest(history[k + 1].content, old_bytes, name + ": " + old_path.u8string());
    if (!ApplyDiff(diff, old_bytes.data(), old_bytes.size(), result, error)) {
        Problem(name + ": applying " + path.u8string() + ": " + error);
        return;
    }
    CheckDigest(history[k].content, result, name + ": version " + std::to_string(k) + " made by " + path.u8string());
}

void Verifier::CheckEntry(const FileEntry& entry) {
    const std::string name = WideToUtf8(entry.name);
    ++report_.entries;
    const auto& history = entry.history;
    for (size_t i = 0; i + 1 < history.size(); ++i) {
        if (history[i].hash != history[i + 1].hash && history[i].diff_size < 1) {
            Problem(name + ": history broken between versions " + std::to_string(i) + " and " +
                    std::to_string(i + 1) + " (launchers will download the whole file)");
        }
    }
    if (entry.hash.size() != 32 || AsciiUpper(entry.hash) != entry.hash)
        Problem(name + ": hash is not 32 upper-case hexadecimal digits");
    size_t i = FullDownloadRootIndex(entry);
    std::vector<uint8_t> bytes;
    fs::path path = EntryPath(root_.version_folders[i], entry.name);
    if (Load(path, entry.size_compressed, entry.flags, bytes, name)) {
        ++report_.full_files;
        if (!HashTextEquals(Md5ToHex(Md5Bytes(bytes.data(), bytes.size())), entry.hash))
            Problem(name + ": " + path.u8string() + " does not match the entry's hash");
        CheckDigest(entry.content, bytes, name + ": " + path.u8string());
    }
    for (size_t k = 0; k < history.size(); ++k) {
        if (history[k].diff_size > 0) CheckDiff(entry, k);
    }
}

void Verifier::CheckLauncher() {
    const FileListDocument& list = root_.list;
    if (!list.has_launcher) {
        Problem("no LauncherCompressed element (launchers with self-update fail)");
        return;
    }
    fs::path path;
    if (!PublishedLauncherPath(root_, path)) {
        Problem("launcher URL is not under the patch root's base URL: " + WideToUtf8(list.launcher.url));
        return;
    }
    std::vector<uint8_t> bytes;
    if (!Load(path, list.launcher.size_compressed, kFlagCompressed, bytes, "launcher")) return;
    if (!HashTextEquals(Md5ToHex(Md5Bytes(bytes.data(), bytes.size())), list.launcher.hash))
        Problem("launcher: " + path.u8string() + " does not match its hash");
    CheckDigest(list.launcher.content, bytes, "launcher: " + path.u8string());
}

void Verifier::CheckScript() {
    for (const ScriptCommand& command : root_.list.script) {
        std::string error;
        if (!CheckScriptCommand(command, error)) Problem("script: " + error);
    }
}

std::string Hex(const uint8_t* bytes, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

std::string UtcText(uint64_t seconds) {
    const std::time_t time = std::time_t(seconds);
    const std::tm* utc = uint64_t(time) == seconds ? std::gmtime(&time) : nullptr;
    char text[32];
    if (!utc || !std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", utc))
        return std::to_string(seconds) + " s after 1970";
    return text;
}

void Verifier::CheckSignature(const VerifyOptions& options, uint64_t now) {
    bool present = false;
    ReleaseSignature signature;
    std::string error;
    if (!ReadRootSignature(root_.folder, present, signature, error)) {
        Problem(error);
        return;
    }
    if (!present) {
        if (options.has_key)
            Problem(std::string("the release is not signed (no ") + kFileListSigName + ")");
        return;
    }
    report_.signed_release = true;
    report_.signature = signature;
    const std::wstring unvouched = FindUnvouchedObject(root_.list);
    if (!unvouched.empty())
        Problem("launchers that hold the key refuse this list: " + WideToUtf8(unvouched));
    if (!kSigningAvailable) return;
    const std::string sig = kFileListSigName;
    Sha256Digest list_digest{};
    if (!Sha256Of(root_.xml.data(), root_.xml.size(), list_digest, error)) {
        Problem(error);
        return;
    }
    if (list_digest != signature.list_sha256)
        Problem(sig + " belongs to another file list (launchers that hold the key refuse this release)");
    if (signature.expires != 0 && signature.expires <= now)
        Problem(sig + " expired at " + UtcText(signature.expires));
    if (!options.has_key) return;
    Sha256Digest key_digest{};
    if (!Sha256Of(options.key.data(), options.key.size(), key_digest, error)) {
        Problem(error);
        return;
    }
    const ReleaseKeyId key_id = KeyIdFromDigest(key_digest);
    if (key_id != signature.key_id) {
        Problem(sig + " was made with key id " + Hex(signature.key_id.data(), signature.key_id.size()) +
                ", the given key has id " + Hex(key_id.data(), key_id.size()));
        return;
    }
    if (!velm::publish::CheckSignature(signature, options.key, error)) {
        Problem(sig + ": " + error);
        return;
    }
    report_.signature_checked = true;
}

}  // namespace

std::string SignatureSummary(const VerifyReport& report) {
    if (!report.signed_release) return "signature: none (the release is not signed)";
    const ReleaseSignature& s = report.signature;
    std::string text = "signature: release serial " + std::to_string(s.serial) + ", expires " +
                       (s.expires == 0 ? std::string("never") : UtcText(s.expires)) +
                       ", key id " + Hex(s.key_id.data(), s.key_id.size());
    if (!kSigningAvailable) return text + "; not checked: " + kSigningUnavailable;
    if (!report.key_given) return text + "; not checked against a key (give --public-key)";
    if (!report.signature_checked) return text + "; does not verify with the given key";
    return text + "; signature checked";
}

int RunVerify(const VerifyOptions& options, VerifyReport& report, std::string& error) {
    if (options.has_key && !kSigningAvailable) {
        error = kSigningUnavailable;
        return 0;
    }
    report.key_given = options.has_key;
    const fs::path& folder = options.root;
    const bool quiet = options.quiet;
    PatchRoot root;
    if (!LoadPatchRoot(folder, root, error)) return 0;
    if (root.empty) {
        error = "no release in " + folder.u8string();
        return 0;
    }
    Verifier verifier(root, report);
    verifier.CheckCompanion();
    std::error_code ec;
    for (const fs::path& version : root.version_folders) {
        if (!fs::is_directory(version, ec))
            report.problems.push_back("URL root folder missing: " + version.u8string());
    }
    std::set<std::wstring> names;
    uint64_t total = 0;
    for (const FileEntry& entry : root.list.entries) total += uint64_t(entry.size_compressed);
    Progress progress("verify", root.list.entries.size(), total, quiet);
    for (const FileEntry& entry : root.list.entries) {
        if (!names.insert(AsciiUpper(entry.name)).second)
            report.problems.push_back("entry listed twice: " + WideToUtf8(entry.name));
        progress.BeginFile(WideToUtf8(entry.name));
        verifier.CheckEntry(entry);
        progress.FileDone(uint64_t(entry.size_compressed));
    }
    progress.Finish();
    verifier.CheckLauncher();
    verifier.CheckScript();
    verifier.CheckSignature(options, uint64_t(std::time(nullptr)));
    return 1;
}

}  // namespace velm::publish
