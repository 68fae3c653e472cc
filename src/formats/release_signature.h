#pragma once
// "filelist.xml.sig": the release signature that the patch server publishes beside the
// file list. It binds one release's file list to the operator's key: the exact decoded
// list bytes (by their SHA-256), the release serial, which grows by one with every
// release and lets an installation refuse an older release, and an optional expiry. All
// integers little-endian; the file is exactly kReleaseSignatureSize bytes:
//
//   offset  0   16  domain tag "VELM-RELEASE-SIG" (no terminator): what the signature is for
//   offset 16    4  format version, 1
//   offset 20    8  key id: the first 8 bytes of SHA-256 over the public key (X || Y)
//   offset 28    8  release serial (unsigned)
//   offset 36    8  expiry, seconds since 1970-01-01 UTC; 0 = never
//   offset 44   32  SHA-256 of the decoded file list
//   offset 76   64  ECDSA P-256 signature r || s (big-endian, 32 bytes each) over the
//                   SHA-256 of bytes 0 to 75
//
// The public key is configured as text: "P256:" and 128 hexadecimal digits, X then Y.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace velm {

constexpr size_t kReleaseSignedSize = 76;
constexpr size_t kReleaseSignatureSize = kReleaseSignedSize + 64;
constexpr uint32_t kReleaseSignatureVersion = 1;
extern const char kReleaseSignatureTag[16];
constexpr const wchar_t* kReleaseSignatureSuffix = L".sig";

using Sha256Digest = std::array<uint8_t, 32>;
using ReleaseKeyId = std::array<uint8_t, 8>;
// An uncompressed P-256 point without its 0x04 prefix: X then Y, big-endian.
using ReleasePublicKey = std::array<uint8_t, 64>;

struct ReleaseSignature {
    ReleaseKeyId key_id{};
    uint64_t serial = 0;
    uint64_t expires = 0;  // seconds since 1970 UTC; 0 = never
    Sha256Digest list_sha256{};
    std::array<uint8_t, 64> signature{};  // r || s
};

// The first kReleaseSignedSize bytes of the file: what the signature covers.
std::array<uint8_t, kReleaseSignedSize> EncodeSignedPart(const ReleaseSignature& release);

// The whole file.
std::string EncodeReleaseSignature(const ReleaseSignature& release);

// 1 when bytes is a signature file of this version, 0 with a reason otherwise (wrong
// size, another domain tag or version). The signature itself is not checked here.
int ParseReleaseSignature(const std::string& bytes, ReleaseSignature& release, std::string& reason);

// "P256:" and 128 hexadecimal digits (either case, surrounding blanks ignored). False
// for anything else.
bool ParseReleasePublicKey(const std::wstring& text, ReleasePublicKey& key);
std::wstring ReleasePublicKeyText(const ReleasePublicKey& key);

// The key id from the SHA-256 of the key's 64 bytes.
ReleaseKeyId KeyIdFromDigest(const Sha256Digest& key_digest);

}  // namespace velm
