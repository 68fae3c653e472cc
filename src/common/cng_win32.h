#pragma once
// The system's own cryptography (CNG) for what the launcher checks: SHA-256 and ECDSA
// P-256 signatures. Nothing cryptographic is written here; these are owners and calls.
#include <windows.h>
#include <bcrypt.h>

#include <array>
#include <cstddef>
#include <cstdint>

namespace velm {

// One algorithm provider, closed once.
class CngAlgorithm {
public:
    explicit CngAlgorithm(const wchar_t* algorithm);
    ~CngAlgorithm();
    CngAlgorithm(const CngAlgorithm&) = delete;
    CngAlgorithm& operator=(const CngAlgorithm&) = delete;
    BCRYPT_ALG_HANDLE Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    BCRYPT_ALG_HANDLE handle_ = nullptr;
};

// One imported key, destroyed once.
class CngKey {
public:
    CngKey() = default;
    ~CngKey();
    CngKey(const CngKey&) = delete;
    CngKey& operator=(const CngKey&) = delete;
    BCRYPT_KEY_HANDLE* Out();
    BCRYPT_KEY_HANDLE Get() const { return handle_; }

private:
    BCRYPT_KEY_HANDLE handle_ = nullptr;
};

// SHA-256 of data that arrives in pieces, from the system's provider (opened once per
// process). Not thread-safe; one object per stream.
class CngSha256Stream {
public:
    CngSha256Stream();
    ~CngSha256Stream();
    CngSha256Stream(const CngSha256Stream&) = delete;
    CngSha256Stream& operator=(const CngSha256Stream&) = delete;

    // False once any step has failed, from the start when the provider cannot be had.
    explicit operator bool() const { return hash_ != nullptr && ok_; }
    void Update(const void* data, size_t size);
    // The digest of everything given; false when a step failed. The stream is spent.
    bool Finish(std::array<uint8_t, 32>& digest);

private:
    BCRYPT_HASH_HANDLE hash_ = nullptr;
    bool ok_ = true;
};

// False when the system's provider cannot be had.
bool CngSha256(const void* data, size_t size, std::array<uint8_t, 32>& digest);

// True when signature (r || s, big-endian) is a valid ECDSA P-256 signature of digest by
// the key whose point is public_key (X || Y, big-endian).
bool CngVerifyP256(const std::array<uint8_t, 64>& public_key, const std::array<uint8_t, 32>& digest,
                   const std::array<uint8_t, 64>& signature);

}  // namespace velm
