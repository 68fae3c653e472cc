#include "formats/release_signature.h"

#include <cstring>

namespace velm {

const char kReleaseSignatureTag[16] = {'V', 'E', 'L', 'M', '-', 'R', 'E', 'L',
                                       'E', 'A', 'S', 'E', '-', 'S', 'I', 'G'};

namespace {

constexpr size_t kVersionAt = 16;
constexpr size_t kKeyIdAt = 20;
constexpr size_t kSerialAt = 28;
constexpr size_t kExpiresAt = 36;
constexpr size_t kListDigestAt = 44;
constexpr const wchar_t kKeyPrefix[] = L"P256:";

void PutLe(uint8_t* at, uint64_t value, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) at[i] = uint8_t(value >> (8 * i));
}

uint64_t GetLe(const uint8_t* at, size_t bytes) {
    uint64_t value = 0;
    for (size_t i = bytes; i-- > 0;) value = value << 8 | at[i];
    return value;
}

int HexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

}  // namespace

std::array<uint8_t, kReleaseSignedSize> EncodeSignedPart(const ReleaseSignature& release) {
    std::array<uint8_t, kReleaseSignedSize> out{};
    std::memcpy(out.data(), kReleaseSignatureTag, sizeof kReleaseSignatureTag);
    PutLe(out.data() + kVersionAt, kReleaseSignatureVersion, 4);
    std::memcpy(out.data() + kKeyIdAt, release.key_id.data(), release.key_id.size());
    PutLe(out.data() + kSerialAt, release.serial, 8);
    PutLe(out.data() + kExpiresAt, release.expires, 8);
    std::memcpy(out.data() + kListDigestAt, release.list_sha256.data(), release.list_sha256.size());
    return out;
}

std::string EncodeReleaseSignature(const ReleaseSignature& release) {
    const auto signed_part = EncodeSignedPart(release);
    std::string out(signed_part.begin(), signed_part.end());
    out.append(release.signature.begin(), release.signature.end());
    return out;
}

int ParseReleaseSignature(const std::string& bytes, ReleaseSignature& release, std::string& reason) {
    if (bytes.size() != kReleaseSignatureSize) {
        reason = "the signature file has " + std::to_string(bytes.size()) + " bytes, not " +
                 std::to_string(kReleaseSignatureSize);
        return 0;
    }
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    if (std::memcmp(data, kReleaseSignatureTag, sizeof kReleaseSignatureTag) != 0) {
        reason = "the signature file is not a release signature";
        return 0;
    }
    const uint64_t version = GetLe(data + kVersionAt, 4);
    if (version != kReleaseSignatureVersion) {
        reason = "the signature file has version " + std::to_string(version) + ", not " +
                 std::to_string(kReleaseSignatureVersion);
        return 0;
    }
    ReleaseSignature parsed;
    std::memcpy(parsed.key_id.data(), data + kKeyIdAt, parsed.key_id.size());
    parsed.serial = GetLe(data + kSerialAt, 8);
    parsed.expires = GetLe(data + kExpiresAt, 8);
    std::memcpy(parsed.list_sha256.data(), data + kListDigestAt, parsed.list_sha256.size());
    std::memcpy(parsed.signature.data(), data + kReleaseSignedSize, parsed.signature.size());
    release = parsed;
    return 1;
}

bool ParseReleasePublicKey(const std::wstring& text, ReleasePublicKey& key) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    const size_t prefix = sizeof kKeyPrefix / sizeof kKeyPrefix[0] - 1;
    if (end - begin != prefix + 2 * key.size() || text.compare(begin, prefix, kKeyPrefix) != 0) return false;
    ReleasePublicKey parsed{};
    for (size_t i = 0; i < parsed.size(); ++i) {
        const int high = HexValue(text[begin + prefix + 2 * i]);
        const int low = HexValue(text[begin + prefix + 2 * i + 1]);
        if (high < 0 || low < 0) return false;
        parsed[i] = uint8_t(high << 4 | low);
    }
    key = parsed;
    return true;
}

std::wstring ReleasePublicKeyText(const ReleasePublicKey& key) {
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text = kKeyPrefix;
    for (uint8_t byte : key) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

ReleaseKeyId KeyIdFromDigest(const Sha256Digest& key_digest) {
    ReleaseKeyId id{};
    std::memcpy(id.data(), key_digest.data(), id.size());
    return id;
}

}  // namespace velm
