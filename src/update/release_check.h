#pragma once
// Whether a downloaded file list is the operator's release: its signature file must be
// well-formed, made with the configured key, over exactly these list bytes, for this
// launcher's channel, not expired, not older than the release this installation has
// accepted and, at the same serial, over the same list. The hashing and the signature
// check come from the platform (see ReleaseCrypto); the decisions are here.
#include <array>
#include <cstdint>
#include <string>

#include "formats/accepted_release.h"
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

// What the launcher holds a release against.
struct ReleaseExpectation {
    ReleasePublicKey key{};
    std::wstring channel = kDefaultReleaseChannel;  // a valid channel name
    uint64_t now = 0;                               // seconds since 1970 UTC
    AcceptedRelease accepted;                       // serial 0: none yet
};

// 1 when the release is accepted (release filled in), 0 with the reason in error (an
// English sentence for the run's error list). signature_file is null when none could be
// fetched. The same serial over the same list is the same release again.
int CheckReleaseSignature(ReleaseCrypto& crypto, const ReleaseExpectation& expected, const std::string& list,
                          const std::string* signature_file, ReleaseSignature& release, std::wstring& error);

// A release is re-signed on a schedule; one that runs out within this time was not.
constexpr uint64_t kReleaseExpiryWarningSeconds = 3 * 86400;

// Empty, or the warning for a release that expires within kReleaseExpiryWarningSeconds of
// now, naming its expiry.
std::wstring ReleaseExpiryWarning(const ReleaseSignature& release, uint64_t now);

}  // namespace velm
