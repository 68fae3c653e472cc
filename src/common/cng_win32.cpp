#include "common/cng_win32.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace velm {

CngAlgorithm::CngAlgorithm(const wchar_t* algorithm) {
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle_, algorithm, nullptr, 0))) handle_ = nullptr;
}

CngAlgorithm::~CngAlgorithm() {
    if (handle_) BCryptCloseAlgorithmProvider(std::exchange(handle_, nullptr), 0);
}

CngKey::~CngKey() {
    if (handle_) BCryptDestroyKey(std::exchange(handle_, nullptr));
}

BCRYPT_KEY_HANDLE* CngKey::Out() {
    if (handle_) BCryptDestroyKey(std::exchange(handle_, nullptr));
    return &handle_;
}

bool CngSha256(const void* data, size_t size, std::array<uint8_t, 32>& digest) {
    CngAlgorithm sha256(BCRYPT_SHA256_ALGORITHM);
    if (!sha256) return false;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!BCRYPT_SUCCESS(BCryptCreateHash(sha256.Get(), &hash, nullptr, 0, nullptr, 0, 0))) return false;
    bool ok = true;
    // BCryptHashData takes at most 4 GiB - 1 at a time.
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t done = 0; ok && done < size;) {
        const ULONG piece = ULONG(std::min<size_t>(size - done, 1u << 30));
        ok = BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(bytes + done), piece, 0));
        done += piece;
    }
    ok = ok && BCRYPT_SUCCESS(BCryptFinishHash(hash, digest.data(), ULONG(digest.size()), 0));
    BCryptDestroyHash(hash);
    return ok;
}

bool CngVerifyP256(const std::array<uint8_t, 64>& public_key, const std::array<uint8_t, 32>& digest,
                   const std::array<uint8_t, 64>& signature) {
    CngAlgorithm ecdsa(BCRYPT_ECDSA_P256_ALGORITHM);
    if (!ecdsa) return false;
    std::vector<uint8_t> blob(sizeof(BCRYPT_ECCKEY_BLOB) + public_key.size());
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, public_key.data(), public_key.size());
    CngKey key;
    if (!BCRYPT_SUCCESS(BCryptImportKeyPair(ecdsa.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.Out(), blob.data(),
                                            ULONG(blob.size()), 0)))
        return false;
    return BCryptVerifySignature(key.Get(), nullptr, const_cast<PUCHAR>(digest.data()), ULONG(digest.size()),
                                 const_cast<PUCHAR>(signature.data()), ULONG(signature.size()), 0) == 0;
}

}  // namespace velm
