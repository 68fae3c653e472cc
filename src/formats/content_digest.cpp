#include "formats/content_digest.h"

#include "common/text.h"

namespace velm {

bool ParseSha256Hex(const std::wstring& text, Sha256Digest& digest) {
    return text.size() == 2 * digest.size() && ParseHexBytes(text, 0, digest.data(), digest.size());
}

std::wstring Sha256ToHex(const Sha256Digest& digest) { return LowerHex(digest.data(), digest.size()); }

}  // namespace velm
