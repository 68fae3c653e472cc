// The launcher's decisions on a release signature, with signatures made by the publisher's
// signer (OpenSSL) and checked through the same calls the launcher makes, here also with
// OpenSSL: which key, which list, which channel, which serial against the installation's
// record, which expiry.
#include "update/release_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <utility>

#include "common/text.h"
#include "signing.h"

namespace velm {
namespace {

// SHA-256 from OpenSSL; a signature verifies when the publisher's signer made exactly it,
// with that key, over exactly that digest (its own OpenSSL check confirmed it at signing).
class SignerRecordCrypto : public ReleaseCrypto {
public:
    bool Sha256(const void* data, size_t size, Sha256Digest& digest) override {
        std::string error;
        return publish::Sha256Of(data, size, digest, error) == 1;
    }
    bool VerifyP256(const ReleasePublicKey& key, const Sha256Digest& digest,
                    const std::array<uint8_t, 64>& signature) override {
        const auto made = signed_.find(digest);
        return made != signed_.end() && made->second.first == key && made->second.second == signature;
    }

    Sha256Digest Digest(const std::string& text) {
        Sha256Digest digest{};
        Sha256(text.data(), text.size(), digest);
        return digest;
    }

    std::string Sign(const std::string& pem, const ReleasePublicKey& key, const std::string& list,
                     ReleaseSignature release) {
        std::string error;
        EXPECT_EQ(publish::SignRelease(pem, list, release, error), 1) << error;
        EXPECT_EQ(publish::CheckSignature(release, key, error), 1) << error;
        const std::string part = EncodeSignedPart(release);
        Sha256Digest digest{};
        Sha256(part.data(), part.size(), digest);
        signed_[digest] = {key, release.signature};
        return EncodeReleaseSignature(release);
    }

private:
    std::map<Sha256Digest, std::pair<ReleasePublicKey, std::array<uint8_t, 64>>> signed_;
};

struct Signer {
    std::string pem;
    ReleasePublicKey key{};
};

Signer NewSigner(const char* name) {
    const std::filesystem::path path = std::filesystem::temp_directory_path() / (std::string("velm_check_") + name);
    std::filesystem::remove(path);
    Signer signer;
    std::string error;
    EXPECT_EQ(publish::MakeSigningKey(path, signer.key, error), 1) << error;
    EXPECT_EQ(publish::ReadSigningKey(path, signer.pem, signer.key, error), 1) << error;
    std::filesystem::remove(path);
    return signer;
}

TEST(ReleaseCheck, KeyListChannelSerialAndExpiryDecide) {
    const Signer signer = NewSigner("a");
    const Signer stranger = NewSigner("b");
    const std::string list = "<Root>release list</Root>";
    const std::string other_list = "<Root>another list</Root>";
    constexpr uint64_t kNow = 1900000000;
    SignerRecordCrypto crypto;
    const AcceptedRelease none;
    const AcceptedRelease five_same{5, true, crypto.Digest(list)};
    const AcceptedRelease five_other{5, true, crypto.Digest(other_list)};
    const AcceptedRelease five_legacy{5, false, {}};
    struct Case {
        const char* name;
        const Signer* by;
        const std::string* signed_list;
        uint32_t version;
        const char* signed_channel;
        const wchar_t* launcher_channel;
        uint64_t serial;
        uint64_t expires;
        AcceptedRelease accepted;
        const wchar_t* error;  // part of the refusal; null when accepted
    } cases[] = {
        {"v2 live", &signer, &list, 2, "live", L"live", 5, 0, none, nullptr},
        {"v2 own channel", &signer, &list, 2, "test", L"test", 5, 0, none, nullptr},
        {"v1 counts as live", &signer, &list, 1, "", L"live", 5, 0, none, nullptr},
        {"another key", &stranger, &list, 2, "live", L"live", 5, 0, none, L"signed with another key"},
        {"another list", &signer, &other_list, 2, "live", L"live", 5, 0, none, L"not the one the release signature"},
        {"v1 is not another channel", &signer, &list, 1, "", L"test", 5, 0, none,
         L"another channel than this launcher's (\"test\")"},
        {"v2 of another channel", &signer, &list, 2, "test", L"live", 5, 0, none,
         L"another channel than this launcher's (\"live\")"},
        {"newer serial", &signer, &list, 2, "live", L"live", 6, 0, five_other, nullptr},
        {"same release again", &signer, &list, 2, "live", L"live", 5, 0, five_same, nullptr},
        {"same serial, record without list", &signer, &list, 2, "live", L"live", 5, 0, five_legacy, nullptr},
        {"same serial, another list", &signer, &list, 2, "live", L"live", 5, 0, five_other,
         L"release 5 was accepted before with another file list"},
        {"older serial", &signer, &list, 2, "live", L"live", 4, 0, five_same, L"release 4 is older than release 5"},
        {"not yet expired", &signer, &list, 2, "live", L"live", 5, kNow + 1, none, nullptr},
        {"expired", &signer, &list, 2, "live", L"live", 5, kNow, none, L"expired on 2030-03-17 17:46 UTC"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReleaseSignature made;
        made.version = c.version;
        made.serial = c.serial;
        made.expires = c.expires;
        if (c.version != kReleaseSignatureVersion1) made.channel_id = crypto.Digest(c.signed_channel);
        const std::string signature = crypto.Sign(c.by->pem, c.by->key, *c.signed_list, made);
        ReleaseExpectation expected;
        expected.key = signer.key;
        expected.channel = c.launcher_channel;
        expected.now = kNow;
        expected.accepted = c.accepted;
        ReleaseSignature release;
        std::wstring error;
        const int result = CheckReleaseSignature(crypto, expected, list, &signature, release, error);
        if (c.error) {
            EXPECT_EQ(result, 0);
            EXPECT_NE(error.find(c.error), std::wstring::npos) << WideToUtf8(error);
        } else {
            EXPECT_EQ(result, 1) << WideToUtf8(error);
            EXPECT_EQ(release.serial, c.serial);
        }
    }
}

TEST(ReleaseCheck, OnlyAReleaseAboutToRunOutIsWarnedOf) {
    constexpr uint64_t kNow = 1900000000;
    ReleaseSignature release;
    release.serial = 12;
    struct Case {
        uint64_t expires;
        bool warned;
    } cases[] = {{0, false},
                 {kNow + 3 * 86400 + 1, false},
                 {kNow + 3 * 86400, true},
                 {kNow + 60, true},
                 {kNow, false}};
    for (const Case& c : cases) {
        release.expires = c.expires;
        const std::wstring warning = ReleaseExpiryWarning(release, kNow);
        EXPECT_EQ(!warning.empty(), c.warned) << c.expires;
        if (c.warned) EXPECT_NE(warning.find(L"release 12 expires on "), std::wstring::npos) << WideToUtf8(warning);
    }
}

}  // namespace
}  // namespace velm
