#pragma once
// SHA-256 for the publisher: what a release writes into its file list beside every MD5,
// and what signing and verify compare. The native build takes it from OpenSSL's libcrypto
// (sha256_openssl.cpp), the MinGW build from the system's CNG (sha256_win32.cpp), so that
// both builds publish complete lists; signing stays with the native build.
#include "formats/content_digest.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velm::publish {

// 1 with the digest; 0 with a reason in error.
int Sha256Of(const void* data, size_t size, Sha256Digest& digest, std::string& error);

// The SHA-256 and length of bytes as a list carries them (present).
inline int ContentDigestOf(const std::vector<uint8_t>& bytes, ContentDigest& digest, std::string& error) {
    digest = ContentDigest();
    if (!Sha256Of(bytes.data(), bytes.size(), digest.sha256, error)) return 0;
    digest.size = bytes.size();
    digest.present = true;
    return 1;
}

}  // namespace velm::publish
