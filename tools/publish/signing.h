#pragma once
// Release signing keys and signatures ("filelist.xml.sig", src/formats/release_signature.h).
// The native build does the cryptography with OpenSSL's libcrypto (signing_openssl.cpp).
// No Windows build of OpenSSL comes as a Debian package, so the MinGW build cannot sign
// (signing_unavailable.cpp): every function there fails with kSigningUnavailable and
// kSigningAvailable is false. SHA-256 (sha256.h) both builds have.
#include "sha256.h"

#include "formats/release_signature.h"

#include <filesystem>
#include <string>

namespace velm::publish {

extern const bool kSigningAvailable;
extern const char kSigningUnavailable[];

// Makes a P-256 key pair and writes its private key as PEM to out. The file is created
// with mode 0600 (owner only) from the start, never over an existing file.
int MakeSigningKey(const std::filesystem::path& out, ReleasePublicKey& public_key,
                   std::string& error);

// Reads a P-256 private key in PEM: its text, to sign with, and its public half.
int ReadSigningKey(const std::filesystem::path& path, std::string& pem,
                   ReleasePublicKey& public_key, std::string& error);

// Completes release (serial and expires set by the caller) for the decoded file list:
// the list's digest, the key id of pem's key and the signature over EncodeSignedPart.
int SignRelease(const std::string& pem, const std::string& list, ReleaseSignature& release,
                std::string& error);

// 1 when release.signature is key's signature over EncodeSignedPart(release); 0 with a
// reason otherwise. Neither the key id, the list digest nor the expiry is looked at.
int CheckSignature(const ReleaseSignature& release, const ReleasePublicKey& key,
                   std::string& error);

}  // namespace velm::publish
