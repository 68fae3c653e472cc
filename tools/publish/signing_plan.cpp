#include "signing_plan.h"

#include "durable_files.h"
#include "patch_root.h"
#include "paths.h"
#include "signing.h"

#include "common/file_io.h"
#include "common/text.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace velm::publish {
namespace fs = std::filesystem;
namespace {

// A record longer than this is no serial (20 digits and a line end).
constexpr size_t kMaxKeySerialBytes = 22;

// Everything in the root gets uploaded and served, a key there too.
bool KeyInsideRoot(const fs::path& root_folder, const fs::path& key) {
    std::error_code ec;
    fs::path root = fs::weakly_canonical(fs::absolute(root_folder, ec), ec);
    if (!root.has_filename()) root = root.parent_path();  // "root/" before it exists
    const fs::path key_path = fs::weakly_canonical(fs::absolute(key, ec), ec);
    return !root.empty() && !key_path.empty() &&
           std::mismatch(root.begin(), root.end(), key_path.begin(), key_path.end()).first == root.end();
}

}  // namespace

fs::path KeySerialPath(const fs::path& key) {
    fs::path path = key;
    path += ".serial";
    return path;
}

bool ReadKeySerial(const fs::path& path, uint64_t& serial, std::string& error) {
    serial = 0;
    std::error_code ec;
    if (!fs::exists(path, ec)) return true;
    std::vector<uint8_t> bytes;
    std::string text;
    if (ReadWholeFile(WidePath(path), bytes, kMaxKeySerialBytes)) text.assign(bytes.begin(), bytes.end());
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
    bool ok = !text.empty() && text.size() <= 20 && text.find_first_not_of("0123456789") == std::string::npos;
    for (size_t i = 0; ok && i < text.size(); ++i) {
        const uint64_t digit = uint64_t(text[i] - '0');
        ok = serial <= (UINT64_MAX - digit) / 10;
        serial = serial * 10 + digit;
    }
    if (!ok) {
        serial = 0;
        error = path.u8string() +
                " does not hold a release serial; put the serial of the last release this key signed in it, or "
                "delete it to continue from the patch root's";
    }
    return ok;
}

bool WriteKeySerial(const fs::path& path, uint64_t serial, std::string& error) {
    const std::string text = std::to_string(serial) + "\n";
    fs::path beside = path;
    beside += ".new";
    if (WriteFlushed(beside, text.data(), text.size()) && MoveFileOver(beside, path) &&
        FlushFolder(path.has_parent_path() ? path.parent_path() : fs::path("."))) {
        return true;
    }
    std::error_code ignored;
    fs::remove(beside, ignored);
    error = "cannot record the release serial in " + path.u8string();
    return false;
}

int PlanSigning(const fs::path& root, const SigningOptions& options, bool unsigned_release, const char* command,
                bool quiet, SigningPlan& plan, std::string& error) {
    bool root_signed = false;
    ReleaseSignature last;
    const bool readable = ReadRootSignature(root, root_signed, last, error);
    // Going unsigned removes whatever signature file is there, readable or not.
    if (unsigned_release) {
        error.clear();
        plan.remove_stale = root_signed;
        return 1;
    }
    if (!readable) return 0;
    if (options.key.empty()) {
        if (root_signed) {
            error = "the current release in " + root.u8string() + " is signed (" + kFileListSigName +
                    "); sign this one with --sign-key, or give --unsigned to publish unsigned from now on";
            return 0;
        }
        return 1;
    }
    if (KeyInsideRoot(root, options.key)) {
        error = "the signing key must not lie inside the patch root, which is served: " + options.key.u8string();
        return 0;
    }
    if (!IsReleaseChannelName(options.channel)) {
        error = "\"" + WideToUtf8(options.channel) +
                "\" is not a channel name (1 to 64 of a-z, 0-9, '.', '_' and '-')";
        return 0;
    }
    Sha256Digest key_digest{};
    uint64_t key_serial = 0;
    plan.serial_path = KeySerialPath(options.key);
    if (!ReadSigningKey(options.key, plan.pem, plan.public_key, error) ||
        !Sha256Of(plan.public_key.data(), plan.public_key.size(), key_digest, error) ||
        !ReadKeySerial(plan.serial_path, key_serial, error))
        return 0;
    const uint64_t last_serial = std::max(root_signed ? last.serial : 0, key_serial);
    if (last_serial == UINT64_MAX) {
        error = "the release serial cannot grow any further";
        return 0;
    }
    const std::string channel = WideToUtf8(options.channel);
    if (!Sha256Of(channel.data(), channel.size(), plan.signature.channel_id, error)) return 0;
    plan.sign = true;
    plan.signature.serial = last_serial + 1;
    if (options.expires_days > 0)
        plan.signature.expires = uint64_t(std::time(nullptr)) + uint64_t(options.expires_days) * 86400;
    if (root_signed && last.key_id != KeyIdFromDigest(key_digest) && !quiet) {
        std::fprintf(stderr,
                     "%s: note: the previous release was signed with another key; launchers that hold only that "
                     "key will refuse this release\n",
                     command);
    }
    return 1;
}

int SignList(SigningPlan& plan, const std::string& list, std::string& signature_file, std::string& error) {
    if (!SignRelease(plan.pem, list, plan.signature, error)) return 0;
    signature_file = EncodeReleaseSignature(plan.signature);
    return 1;
}

void ReportSignature(const SigningPlan& plan, const char* command, bool quiet) {
    const ReleaseSignature& signature = plan.signature;
    if (signature.expires == 0) {
        // Shown even with --quiet: it is a choice with a risk, not progress.
        std::fprintf(stderr,
                     "%s: note: the signature never expires (--expires-days 0): a copy of this release replayed to "
                     "players keeps them on it for good\n",
                     command);
    }
    if (quiet) return;
    std::fprintf(stderr, "%s: signed as release serial %llu\n", command,
                 static_cast<unsigned long long>(signature.serial));
    if (signature.expires != 0) {
        std::fprintf(stderr, "%s: the signature expires at %s; sign again before then (velm-publish resign)\n",
                     command, UtcText(signature.expires).c_str());
    }
}

std::string UtcText(uint64_t seconds) {
    const std::time_t time = std::time_t(seconds);
    const std::tm* utc = uint64_t(time) == seconds ? std::gmtime(&time) : nullptr;
    char text[32];
    if (!utc || !std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", utc))
        return std::to_string(seconds) + " s after 1970";
    return text;
}

}  // namespace velm::publish
