#pragma once
// "filelist.xml.sig": the release signature that the patch server publishes beside the
// file list. It binds one release's file list to the operator's key: the exact decoded
// list bytes (by their SHA-256), the release serial, which grows by one with every
// release and lets an installation refuse an older release, an optional expiry and, from
// version 2 on, the release channel. All integers little-endian:
//
//   offset  0   16  domain tag "VELM-RELEASE-SIG" (no terminator): what the signature is for
//   offset 16    4  format version, 1 or 2
//   offset 20    8  key id: the first 8 bytes of SHA-256 over the public key (X || Y)
//   offset 28    8  release serial (unsigned)
//   offset 36    8  expiry, seconds since 1970-01-01 UTC; 0 = never
//   offset 44   32  SHA-256 of the decoded file list
//   version 2 only:
//   offset 76   32  channel id: SHA-256 of the channel name (UTF-8)
//   then        64  ECDSA P-256 signature r || s (big-endian, 32 bytes each) over the
//                   SHA-256 of every byte before it
//
// A version 1 file is exactly 140 bytes and belongs to the channel "live"; a version 2
// file is exactly 172 bytes. The public key is configured as text: "P256:" and 128
// hexadecimal digits, X then Y.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "formats/content_digest.h"

namespace velm {

constexpr uint32_t kReleaseSignatureVersion1 = 1;
constexpr uint32_t kReleaseSignatureVersion2 = 2;
constexpr size_t kReleaseSignedSizeV1 = 76;
constexpr size_t kReleaseSignedSizeV2 = kReleaseSignedSizeV1 + 32;
constexpr size_t kReleaseSignatureBytes = 64;
constexpr size_t kReleaseSignatureSizeV1 = kReleaseSignedSizeV1 + kReleaseSignatureBytes;
constexpr size_t kReleaseSignatureSizeV2 = kReleaseSignedSizeV2 + kReleaseSignatureBytes;
extern const char kReleaseSignatureTag[16];
constexpr const wchar_t* kReleaseSignatureSuffix = L".sig";

// The channel of every version 1 signature and of a launcher or release that names none.
constexpr const wchar_t* kDefaultReleaseChannel = L"live";
constexpr size_t kMaxReleaseChannelChars = 64;

using ReleaseKeyId = std::array<uint8_t, 8>;
// An uncompressed P-256 point without its 0x04 prefix: X then Y, big-endian.
using ReleasePublicKey = std::array<uint8_t, 64>;

struct ReleaseSignature {
    uint32_t version = kReleaseSignatureVersion2;
    ReleaseKeyId key_id{};
    uint64_t serial = 0;
    uint64_t expires = 0;  // seconds since 1970 UTC; 0 = never
    Sha256Digest list_sha256{};
    Sha256Digest channel_id{};  // version 2 only
    std::array<uint8_t, kReleaseSignatureBytes> signature{};  // r || s
};

// What the signature covers: the file without its last kReleaseSignatureBytes bytes.
std::string EncodeSignedPart(const ReleaseSignature& release);

// The whole file.
std::string EncodeReleaseSignature(const ReleaseSignature& release);

// 1 when bytes is a signature file of a known version and of that version's size, 0 with
// a reason otherwise. The signature itself is not checked here.
int ParseReleaseSignature(const std::string& bytes, ReleaseSignature& release, std::string& reason);

// A channel name: 1 to kMaxReleaseChannelChars characters, each a lower-case ASCII letter,
// a digit, '.', '_' or '-', so that one name has one spelling and one id.
bool IsReleaseChannelName(const std::wstring& name);

// "P256:" and 128 hexadecimal digits (either case, surrounding blanks ignored). False
// for anything else.
bool ParseReleasePublicKey(const std::wstring& text, ReleasePublicKey& key);
std::wstring ReleasePublicKeyText(const ReleasePublicKey& key);

// The key id from the SHA-256 of the key's 64 bytes.
ReleaseKeyId KeyIdFromDigest(const Sha256Digest& key_digest);

}  // namespace velm
