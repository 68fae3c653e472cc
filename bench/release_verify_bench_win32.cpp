// What checking a release costs a run, beside what the run already spends on its file
// list: a synthetic list of BENCH_ENTRIES entries is compressed as the patch server serves
// it, then timed (best of 9) as the run handles it: decoding the container (the peer),
// and the check (SHA-256 of the decoded list, SHA-256 of the signed part and the ECDSA
// P-256 verification, all with the system's CNG). The signature is made here with CNG too.
#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/cng_win32.h"
#include "formats/cmp_container.h"
#include "formats/release_signature.h"
#include "update/release_check.h"

namespace {

using Clock = std::chrono::steady_clock;

class SystemCrypto : public velm::ReleaseCrypto {
public:
    bool Sha256(const void* data, size_t size, velm::Sha256Digest& digest) override {
        return velm::CngSha256(data, size, digest);
    }
    bool VerifyP256(const velm::ReleasePublicKey& key, const velm::Sha256Digest& digest,
                    const std::array<uint8_t, 64>& signature) override {
        return velm::CngVerifyP256(key, digest, signature);
    }
};

std::string SyntheticList(int entries) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Root>\n\t<Store URLRoot=\"http://p/\"/>\n";
    xml += "\t<URLRoot URL=\"http://p/v2\"/>\n\t<URLRoot URL=\"http://p/v1\"/>\n\t<FileList>\n";
    // Each entry as a signed release publishes it: with the SHA-256 and size of the file,
    // of the version before it and of the diff between them.
    char line[1024];
    for (int i = 0; i < entries; ++i) {
        std::snprintf(line, sizeof line,
                      "\t\t<File name=\"\\\\VelmGame\\\\Data\\\\Packages\\\\Archive%06d.pak\" hash=\"%032X\" "
                      "size_compressed=\"%d\" flags=\"1\" diff_size=\"%d\" sha256=\"%064x\" file_size=\"%d\" "
                      "diff_sha256=\"%064x\" diff_file_size=\"%d\"><histroy hash=\"%032X\" diff_size=\"0\" "
                      "sha256=\"%064x\" file_size=\"%d\"/></File>\n",
                      i, i * 7919u, 900000 + i, 4000 + i, i * 15485863u, 1000000 + i, i * 32452843u, 9000 + i,
                      i * 104729u, i * 49979687u, 999000 + i);
        xml += line;
    }
    return xml + "\t</FileList>\n</Root>\n";
}

// Signs the release's signed part with a fresh P-256 key, whose point and id it records.
bool SignWithNewKey(velm::ReleaseSignature& release, velm::ReleasePublicKey& point, velm::ReleaseCrypto& crypto) {
    velm::CngAlgorithm ecdsa(BCRYPT_ECDSA_P256_ALGORITHM);
    velm::CngKey key;
    if (!ecdsa || !BCRYPT_SUCCESS(BCryptGenerateKeyPair(ecdsa.Get(), key.Out(), 256, 0)) ||
        !BCRYPT_SUCCESS(BCryptFinalizeKeyPair(key.Get(), 0)))
        return false;
    std::vector<uint8_t> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 64);
    ULONG size = 0;
    if (!BCRYPT_SUCCESS(BCryptExportKey(key.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, blob.data(), ULONG(blob.size()),
                                        &size, 0)))
        return false;
    std::memcpy(point.data(), blob.data() + sizeof(BCRYPT_ECCKEY_BLOB), 64);
    velm::Sha256Digest key_digest{}, signed_digest{};
    crypto.Sha256(point.data(), point.size(), key_digest);
    release.key_id = velm::KeyIdFromDigest(key_digest);
    const auto part = velm::EncodeSignedPart(release);
    crypto.Sha256(part.data(), part.size(), signed_digest);
    return BCRYPT_SUCCESS(BCryptSignHash(key.Get(), nullptr, signed_digest.data(), 32, release.signature.data(), 64,
                                         &size, 0));
}

template <typename F>
double BestMs(F work) {
    double best = 1e30;
    for (int i = 0; i < 9; ++i) {
        const auto start = Clock::now();
        work();
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return best;
}

}  // namespace

int wmain() {
    const char* env = std::getenv("BENCH_ENTRIES");
    const int entries = env ? std::atoi(env) : 40000;
    const std::string xml = SyntheticList(entries);
    std::vector<uint8_t> container;
    if (!velm::WriteCmp(reinterpret_cast<const uint8_t*>(xml.data()), xml.size(), container)) return 1;

    SystemCrypto crypto;
    velm::ReleaseSignature release;
    release.serial = 7;
    const std::string channel = "live";
    crypto.Sha256(channel.data(), channel.size(), release.channel_id);
    velm::ReleasePublicKey point{};
    if (!crypto.Sha256(xml.data(), xml.size(), release.list_sha256) || !SignWithNewKey(release, point, crypto)) {
        std::fprintf(stderr, "release-verify: the system's CNG cannot make a P-256 signature\n");
        return 1;
    }
    const std::string signature = velm::EncodeReleaseSignature(release);

    std::vector<uint8_t> decoded;
    const double decode_ms = BestMs([&] { velm::DecodeCmp(container.data(), container.size(), decoded, 64u << 20); });
    int accepted = 0;
    const double check_ms = BestMs([&] {
        velm::ReleaseSignature checked;
        std::wstring error;
        velm::ReleaseExpectation expected;
        expected.key = point;
        accepted = velm::CheckReleaseSignature(crypto, expected, xml, &signature, checked, error);
    });
    velm::Sha256Digest digest{};
    const double hash_ms = BestMs([&] { crypto.Sha256(xml.data(), xml.size(), digest); });
    const auto part = velm::EncodeSignedPart(release);
    velm::Sha256Digest part_digest{};
    crypto.Sha256(part.data(), part.size(), part_digest);
    const double verify_ms = BestMs([&] { crypto.VerifyP256(point, part_digest, release.signature); });
    if (!accepted || decoded.size() != xml.size()) {
        std::fprintf(stderr, "release-verify: the check did not accept its own release\n");
        return 1;
    }
    std::printf("list: %d entries, %.2f MiB decoded, %.2f MiB served\n", entries, xml.size() / 1048576.0,
                container.size() / 1048576.0);
    std::printf("check: %.3f ms in all; alone, SHA-256 of the list takes %.3f ms (%.0f MiB/s) and the ECDSA "
                "verification %.3f ms\n",
                check_ms, hash_ms, xml.size() / 1048576.0 / (hash_ms / 1000), verify_ms);
    std::printf("release-verify: ours/peer = %.3f (ours %.3f ms checking the release, peer %.3f ms decoding its "
                "file list container, best of 9)\n",
                check_ms / decode_ms, check_ms, decode_ms);
    return 0;
}
