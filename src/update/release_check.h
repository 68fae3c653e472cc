#pragma once
// Whether a downloaded file list is the operator's release: its signature file must be
// well-formed, made with the configured key, over exactly these list bytes, not expired,
// and not older than a release this installation has already accepted. The hashing and
// the signature check come from the platform (see ReleaseCrypto); the decisions are here.
#include <array>
#include <cstdint>
#include <string>

#include "formats/release_signature.h"

namespace velm {

class ReleaseCrypto {
public:
    virtual bool Sha256(const void* data, size_t size, Sha256Digest& digest) = 0;
    virtual bool VerifyP256(const ReleasePublicKey& key, const Sha256Digest& digest,
                            const std::array<uint8_t, 64>& signature) = 0;

protected:
    ~ReleaseCrypto() = default;
};

// 1 when the release is accepted (release filled in), 0 with the reason in error (an
// English sentence for the run's error list). signature_file is null when none could be
// fetched; now is seconds since 1970 UTC; accepted_serial is the highest serial this
// installation has accepted (0 for none). An equal serial is the same release again.
int CheckReleaseSignature(ReleaseCrypto& crypto, const ReleasePublicKey& key, const std::string& list,
                          const std::string* signature_file, uint64_t now, uint64_t accepted_serial,
                          ReleaseSignature& release, std::wstring& error);

}  // namespace velm
