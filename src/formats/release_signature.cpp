#include "formats/release_signature.h"

#include <cstring>

#include "common/text.h"

namespace velm {

const char kReleaseSignatureTag[16] = {'V', 'E', 'L', 'M', '-', 'R', 'E', 'L',
                                       'E', 'A', 'S', 'E', '-', 'S', 'I', 'G'};

namespace {

constexpr size_t kVersionAt = 16;
constexpr size_t kKeyIdAt = 20;
constexpr size_t kSerialAt = 28;
constexpr size_t kExpiresAt = 36;
constexpr size_t kListDigestAt = 44;
constexpr size_t kChannelAt = 76;
constexpr const wchar_t kKeyPrefix[] = L"P256:";

void PutLe(uint8_t* at, uint64_t value, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) at[i] = uint8_t(value >> (8 * i));
}

uint64_t GetLe(const uint8_t* at, size_t bytes) {
    uint64_t value = 0;
    for (size_t i = bytes; i-- > 0;) value = value << 8 | at[i];
    return value;
}

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

size_t SignedSizeOf(uint32_t version) {
    return version == kReleaseSignatureVersion1 ? kReleaseSignedSizeV1 : kReleaseSignedSizeV2;
}

}  // namespace

std::string EncodeSignedPart(const ReleaseSignature& release) {
    std::string bytes(SignedSizeOf(release.version), '\0');
    auto* out = reinterpret_cast<uint8_t*>(&bytes[0]);
    std::memcpy(out, kReleaseSignatureTag, sizeof kReleaseSignatureTag);
    PutLe(out + kVersionAt, release.version, 4);
    std::memcpy(out + kKeyIdAt, release.key_id.data(), release.key_id.size());
    PutLe(out + kSerialAt, release.serial, 8);
    PutLe(out + kExpiresAt, release.expires, 8);
    std::memcpy(out + kListDigestAt, release.list_sha256.data(), release.list_sha256.size());
    if (release.version != kReleaseSignatureVersion1)
        std::memcpy(out + kChannelAt, release.channel_id.data(), release.channel_id.size());
    return bytes;
}

std::string EncodeReleaseSignature(const ReleaseSignature& release) {
    std::string out = EncodeSignedPart(release);
    out.append(release.signature.begin(), release.signature.end());
    return out;
}

int ParseReleaseSignature(const std::string& bytes, ReleaseSignature& release, std::string& reason) {
    if (bytes.size() != kReleaseSignatureSizeV1 && bytes.size() != kReleaseSignatureSizeV2) {
        reason = "the signature file has " + std::to_string(bytes.size()) + " bytes, not " +
                 std::to_string(kReleaseSignatureSizeV1) + " or " + std::to_string(kReleaseSignatureSizeV2);
        return 0;
    }
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    if (std::memcmp(data, kReleaseSignatureTag, sizeof kReleaseSignatureTag) != 0) {
        reason = "the signature file is not a release signature";
        return 0;
    }
    const uint64_t version = GetLe(data + kVersionAt, 4);
    if (version != kReleaseSignatureVersion1 && version != kReleaseSignatureVersion2) {
        reason = "the signature file has version " + std::to_string(version) + ", not 1 or 2";
        return 0;
    }
    const size_t signed_size = SignedSizeOf(uint32_t(version));
    if (bytes.size() != signed_size + kReleaseSignatureBytes) {
        reason = "the signature file of version " + std::to_string(version) + " has " +
                 std::to_string(bytes.size()) + " bytes, not " + std::to_string(signed_size + kReleaseSignatureBytes);
        return 0;
    }
    ReleaseSignature parsed;
    parsed.version = uint32_t(version);
    std::memcpy(parsed.key_id.data(), data + kKeyIdAt, parsed.key_id.size());
    parsed.serial = GetLe(data + kSerialAt, 8);
    parsed.expires = GetLe(data + kExpiresAt, 8);
    std::memcpy(parsed.list_sha256.data(), data + kListDigestAt, parsed.list_sha256.size());
    if (parsed.version != kReleaseSignatureVersion1)
        std::memcpy(parsed.channel_id.data(), data + kChannelAt, parsed.channel_id.size());
    std::memcpy(parsed.signature.data(), data + signed_size, parsed.signature.size());
    release = parsed;
    return 1;
}

bool IsReleaseChannelName(const std::wstring& name) {
    if (name.empty() || name.size() > kMaxReleaseChannelChars) return false;
    for (wchar_t c : name) {
        const bool allowed = (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'.' || c == L'_' ||
                             c == L'-';
        if (!allowed) return false;
    }
    return true;
}

bool ParseReleasePublicKey(const std::wstring& text, ReleasePublicKey& key) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    const size_t prefix = sizeof kKeyPrefix / sizeof kKeyPrefix[0] - 1;
    if (end - begin != prefix + 2 * key.size() || text.compare(begin, prefix, kKeyPrefix) != 0) return false;
    return ParseHexBytes(text, begin + prefix, key.data(), key.size());
}

std::wstring ReleasePublicKeyText(const ReleasePublicKey& key) {
    return kKeyPrefix + LowerHex(key.data(), key.size());
}

ReleaseKeyId KeyIdFromDigest(const Sha256Digest& key_digest) {
    ReleaseKeyId id{};
    std::memcpy(id.data(), key_digest.data(), id.size());
    return id;
}

}  // namespace velm
