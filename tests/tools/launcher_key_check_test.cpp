// A signed release says when the launcher it publishes would leave its players
// unprotected (no release key) or refusing (another key, a text that is no key, another
// channel). Real MinGW images: one without configuration texts, and one whose release key
// the test writes in place, as velm-retarget would have built it in.
#include "launcher_release_config.h"
#include "paths.h"
#include "pe_resource.h"
#include "signed_root.h"
#include "signing.h"

#include "common/text.h"

namespace velm::publish {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// The key fixture with text (exactly as long as the text it holds) as its release key.
Bytes LauncherHolding(const std::wstring& text) {
    Bytes image = LoadFixture(VELM_PE_FIXTURE_KEY);
    uint64_t offset = 0;
    uint32_t size = 0;
    std::string error;
    EXPECT_EQ(FindPeResource(image, L"CONFIG_TEXT", 904, offset, size, error), 1) << error;
    EXPECT_EQ(size, text.size() * 2);
    for (size_t i = 0; i < text.size() && i * 2 + 1 < size; ++i) {
        image[size_t(offset) + 2 * i] = uint8_t(text[i] & 0xFF);
        image[size_t(offset) + 2 * i + 1] = uint8_t(text[i] >> 8);
    }
    return image;
}

ReleasePublicKey KeyOf(uint8_t fill) {
    ReleasePublicKey key{};
    key.fill(fill);
    return key;
}

TEST(LauncherSigningMismatch, NamesWhatTheLaunchersPlayersWouldMakeOfTheRelease) {
    const ReleasePublicKey key = KeyOf(0xAB);
    std::wstring capitals = L"P256:";
    for (int i = 0; i < 64; ++i) capitals += L"AB";
    struct Case {
        const char* what;
        Bytes image;
        const wchar_t* channel;
        const char* said;  // "": nothing to say
    };
    const Case cases[] = {
        {"no configuration texts", LoadFixture(VELM_PE_FIXTURE), L"live", "holds no release key (configuration text 904)"},
        {"not an executable", Bytes{'M', 'Z'}, L"live", "holds no release key"},
        {"the signing key", LauncherHolding(ReleasePublicKeyText(key)), L"live", ""},
        {"the signing key in capitals", LauncherHolding(capitals), L"live", ""},
        {"another key", LauncherHolding(ReleasePublicKeyText(KeyOf(0x22))), L"live",
         "holds another release key (P256:2222222222222222...) than the one signing this release "
         "(P256:abababababababab...)"},
        {"a text that is no key", LauncherHolding(L"P256:" + std::wstring(127, L'1') + L"g"), L"live",
         "holds a release key text that is not a P256 key"},
        {"the signing key, another channel", LauncherHolding(ReleasePublicKeyText(key)), L"beta",
         "follows the channel \"live\" (configuration text 905), this release is signed for \"beta\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string said = LauncherSigningMismatch(c.image, key, c.channel);
        if (*c.said == '\0') {
            EXPECT_EQ(said, "");
        } else {
            EXPECT_NE(said.find(c.said), std::string::npos) << said;
        }
    }
}

// The warning comes from release itself, on a line of its own, even with --quiet; a
// launcher that holds the key signing the release gets none, nor does an unsigned release.
TEST_F(SignedRoot, ReleaseWarnsWhenItsLauncherWouldLeaveItsPlayersUnprotected) {
    if (!kSigningAvailable) GTEST_SKIP() << kSigningUnavailable;
    ReleasePublicKey key{};
    std::string error;
    ASSERT_EQ(MakeSigningKey(Key(), key, error), 1) << error;
    const fs::path with_key = dir_.path() / "with_key.exe";
    const Bytes image = LauncherHolding(ReleasePublicKeyText(key));
    WriteBytes(with_key, image.data(), image.size());
    struct Case {
        const char* what;
        fs::path launcher;
        bool sign;
        const char* warning;  // nullptr: none
    };
    const Case cases[] = {
        {"no key", fs::u8path(VELM_PE_FIXTURE), true, "holds no release key"},
        {"the key", with_key, true, nullptr},
        {"no key, unsigned release", fs::u8path(VELM_PE_FIXTURE), false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ::testing::internal::CaptureStderr();
        const int published = Publish(1, c.sign ? Key() : fs::path(), error, [&](ReleaseOptions& o) {
            o.launcher = c.launcher;
            o.unsigned_release = !c.sign;
            o.signing.expires_days = 7;
        });
        const std::string said = ::testing::internal::GetCapturedStderr();
        ASSERT_EQ(published, 1) << error;
        if (!c.warning) {
            EXPECT_EQ(said, "");
            continue;
        }
        const std::string line = "release: warning: the launcher " + c.launcher.u8string() + " " + c.warning;
        const size_t at = said.find(line);
        ASSERT_NE(at, std::string::npos) << said;
        EXPECT_TRUE(at == 0 || said[at - 1] == '\n') << said;
        EXPECT_NE(said.find('\n', at), std::string::npos) << said;
    }
}

}  // namespace
}  // namespace velm::publish
