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

namespace {

// Opening a provider costs far more than hashing a small file; every stream shares one.
const CngAlgorithm& Sha256Provider() {
    static const CngAlgorithm provider(BCRYPT_SHA256_ALGORITHM);
    return provider;
}

}  // namespace

CngSha256Stream::CngSha256Stream() {
    const CngAlgorithm& provider = Sha256Provider();
    if (!provider || !BCRYPT_SUCCESS(BCryptCreateHash(provider.Get(), &hash_, nullptr, 0, nullptr, 0, 0)))
        hash_ = nullptr;
}

CngSha256Stream::~CngSha256Stream() {
    if (hash_) BCryptDestroyHash(std::exchange(hash_, nullptr));
}

void CngSha256Stream::Update(const void* data, size_t size) {
    // BCryptHashData takes at most 4 GiB - 1 at a time.
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t done = 0; *this && done < size;) {
        const ULONG piece = ULONG(std::min<size_t>(size - done, 1u << 30));
        ok_ = BCRYPT_SUCCESS(BCryptHashData(hash_, const_cast<PUCHAR>(bytes + done), piece, 0));
        done += piece;
    }
}

bool CngSha256Stream::Finish(std::array<uint8_t, 32>& digest) {
    if (!*this) return false;
    ok_ = false;
    return BCRYPT_SUCCESS(BCryptFinishHash(hash_, digest.data(), ULONG(digest.size()), 0));
}

bool CngSha256(const void* data, size_t size, std::array<uint8_t, 32>& digest) {
    CngSha256Stream stream;
    stream.Update(data, size);
    return stream.Finish(digest);
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
