// "filelist.xml.sig" and the configured public key text. Input: the signature file; the
// same bytes, one character per byte, are also read as a public key text. An accepted
// signature file is exactly the writer's output for what was read; an accepted key text
// reads back from its canonical form and differs from it only in blanks and letter case.
#include "fuzz_support.h"

#include "formats/release_signature.h"

#include <cwctype>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    velm::ReleaseSignature release;
    std::string reason;
    if (velm::ParseReleaseSignature(bytes, release, reason) == 1) {
        FUZZ_CHECK(size == velm::kReleaseSignatureSizeV1 || size == velm::kReleaseSignatureSizeV2);
        FUZZ_CHECK(velm::EncodeReleaseSignature(release) == bytes);
    } else {
        FUZZ_CHECK(!reason.empty());
    }

    const std::wstring text(bytes.begin(), bytes.end());
    velm::ReleasePublicKey key{};
    if (!velm::ParseReleasePublicKey(text, key)) return 0;
    const std::wstring canonical = velm::ReleasePublicKeyText(key);
    velm::ReleasePublicKey again{};
    FUZZ_CHECK(velm::ParseReleasePublicKey(canonical, again) && again == key);
    std::wstring folded;
    for (wchar_t c : text) {
        if (c != L' ' && c != L'\t' && c != L'\r' && c != L'\n')
            folded += c == L'P' ? c : wchar_t(std::towlower(c));
    }
    FUZZ_CHECK(folded == canonical);
    return 0;
}
