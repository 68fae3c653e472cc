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

// Version 1 signatures predate channels: they were all made for the live one.
bool SignedForChannel(ReleaseCrypto& crypto, const ReleaseSignature& release, const std::wstring& channel,
                      bool& matches) {
    if (release.version == kReleaseSignatureVersion1) {
        matches = channel == kDefaultReleaseChannel;
        return true;
    }
    const std::string name = WideToUtf8(channel);
    Sha256Digest id{};
    if (!crypto.Sha256(name.data(), name.size(), id)) return false;
    matches = id == release.channel_id;
    return true;
}

}  // namespace

int CheckReleaseSignature(ReleaseCrypto& crypto, const ReleaseExpectation& expected, const std::string& list,
                          const std::string* signature_file, ReleaseSignature& release, std::wstring& error) {
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
    if (!crypto.Sha256(expected.key.data(), expected.key.size(), key_digest)) {
        error = L"the system cannot compute SHA-256";
        return 0;
    }
    if (parsed.key_id != KeyIdFromDigest(key_digest)) {
        error = L"the release is signed with another key than this launcher's";
        return 0;
    }
    const std::string signed_part = EncodeSignedPart(parsed);
    Sha256Digest signed_digest{};
    if (!crypto.Sha256(signed_part.data(), signed_part.size(), signed_digest) ||
        !crypto.VerifyP256(expected.key, signed_digest, parsed.signature)) {
        error = L"the release signature does not verify";
        return 0;
    }
    Sha256Digest list_digest{};
    if (!crypto.Sha256(list.data(), list.size(), list_digest) || list_digest != parsed.list_sha256) {
        error = L"the file list is not the one the release signature names";
        return 0;
    }
    bool channel_matches = false;
    if (!SignedForChannel(crypto, parsed, expected.channel, channel_matches)) {
        error = L"the system cannot compute SHA-256";
        return 0;
    }
    if (!channel_matches) {
        error = L"the release is signed for another channel than this launcher's (\"" + expected.channel + L"\")";
        return 0;
    }
    if (parsed.expires != 0 && expected.now >= parsed.expires) {
        error = L"the release expired on " + UtcDate(parsed.expires);
        return 0;
    }
    const AcceptedRelease& accepted = expected.accepted;
    if (parsed.serial < accepted.serial) {
        error = FormatText(L"release %llu is older than release %llu, which this installation already has",
                           static_cast<unsigned long long>(parsed.serial),
                           static_cast<unsigned long long>(accepted.serial));
        return 0;
    }
    if (parsed.serial == accepted.serial && accepted.has_list && parsed.list_sha256 != accepted.list_sha256) {
        error = FormatText(L"release %llu was accepted before with another file list",
                           static_cast<unsigned long long>(parsed.serial));
        return 0;
    }
    release = parsed;
    return 1;
}

std::wstring ReleaseExpiryWarning(const ReleaseSignature& release, uint64_t now) {
    if (release.expires == 0 || release.expires <= now || release.expires - now > kReleaseExpiryWarningSeconds)
        return L"";
    return FormatText(L"release %llu expires on %ls; unless the operator signs it again before then, this "
                      L"launcher will refuse it",
                      static_cast<unsigned long long>(release.serial), UtcDate(release.expires).c_str());
}

}  // namespace velm
