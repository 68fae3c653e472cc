#include "update/release_check.h"

#include <ctime>

#include "common/text.h"

namespace velm {
namespace {

std::wstring UtcDate(uint64_t seconds) {
    const std::time_t time = std::time_t(seconds);
    std::tm parts{};
#if defined(_WIN32)
    gmtime_s(&parts, &time);
#else
    gmtime_r(&time, &parts);
#endif
    return FormatText(L"%04d-%02d-%02d %02d:%02d UTC", parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                      parts.tm_hour, parts.tm_min);
}

}  // namespace

int CheckReleaseSignature(ReleaseCrypto& crypto, const ReleasePublicKey& key, const std::string& list,
                          const std::string* signature_file, uint64_t now, uint64_t accepted_serial,
                          ReleaseSignature& release, std::wstring& error) {
    if (!signature_file) {
        error = L"the release signature could not be downloaded";
        return 0;
    }
    ReleaseSignature parsed;
    std::string reason;
    if (!ParseReleaseSignature(*signature_file, parsed, reason)) {
        error = L"the release signature is damaged: " + Utf8ToWide(reason);
        return 0;
    }
    Sha256Digest key_digest{};
    if (!crypto.Sha256(key.data(), key.size(), key_digest)) {
        error = L"the system cannot compute SHA-256";
        return 0;
    }
    if (parsed.key_id != KeyIdFromDigest(key_digest)) {
        error = L"the release is signed with another key than this launcher's";
        return 0;
    }
    const auto signed_part = EncodeSignedPart(parsed);
    Sha256Digest signed_digest{};
    if (!crypto.Sha256(signed_part.data(), signed_part.size(), signed_digest) ||
        !crypto.VerifyP256(key, signed_digest, parsed.signature)) {
        error = L"the release signature does not verify";
        return 0;
    }
    Sha256Digest list_digest{};
    if (!crypto.Sha256(list.data(), list.size(), list_digest) || list_digest != parsed.list_sha256) {
        error = L"the file list is not the one the release signature names";
        return 0;
    }
    if (parsed.expires != 0 && now >= parsed.expires) {
        error = L"the release expired on " + UtcDate(parsed.expires);
        return 0;
    }
    if (parsed.serial < accepted_serial) {
        error = FormatText(L"release %llu is older than release %llu, which this installation already has",
                           static_cast<unsigned long long>(parsed.serial),
                           static_cast<unsigned long long>(accepted_serial));
        return 0;
    }
    release = parsed;
    return 1;
}

}  // namespace velm
