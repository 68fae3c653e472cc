#include "launcher_release_config.h"

#include "pe_resource.h"

#include "common/config_text_ids.h"
#include "common/text.h"

namespace velm::publish {
namespace {

std::wstring ConfigText(const std::vector<uint8_t>& image, int id) {
    uint64_t offset = 0;
    uint32_t size = 0;
    std::string ignored;
    // The launcher reads a text it does not find as empty; so does this.
    if (!FindPeResource(image, L"CONFIG_TEXT", uint16_t(id), offset, size, ignored)) return L"";
    std::wstring text;
    for (uint32_t i = 0; i + 1 < size; i += 2)
        text += wchar_t(image[size_t(offset + i)] | image[size_t(offset + i + 1)] << 8);
    return text;
}

}  // namespace

std::string LauncherSigningMismatch(const std::vector<uint8_t>& image, const ReleasePublicKey& key,
                                    const std::wstring& channel) {
    const std::wstring key_text = ConfigText(image, kConfigReleasePublicKey);
    ReleasePublicKey held{};
    if (key_text.empty()) {
        return "holds no release key (configuration text 904): its players would not check the signature of "
               "this or any release; give it the public key with velm-retarget";
    }
    if (!ParseReleasePublicKey(key_text, held))
        return "holds a release key text that is not a P256 key (configuration text 904): its players would "
               "refuse every release";
    if (held != key) {
        return "holds another release key (" + WideToUtf8(ReleasePublicKeyText(held).substr(0, 21)) +
               "...) than the one signing this release (" + WideToUtf8(ReleasePublicKeyText(key).substr(0, 21)) +
               "...): its players would refuse every release signed with this key";
    }
    std::wstring followed = ConfigText(image, kConfigReleaseChannel);
    if (followed.empty()) followed = kDefaultReleaseChannel;
    if (followed != channel) {
        return "follows the channel \"" + WideToUtf8(followed) + "\" (configuration text 905), this release is "
               "signed for \"" + WideToUtf8(channel) + "\": its players would refuse it";
    }
    return "";
}

}  // namespace velm::publish
