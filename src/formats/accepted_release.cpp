#include "formats/accepted_release.h"

#include "common/text.h"

namespace velm {

bool ParseAcceptedRelease(const std::string& text, AcceptedRelease& release) {
    if (text.size() > kMaxAcceptedReleaseChars) return false;
    size_t end = text.size();
    if (end > 0 && text[end - 1] == '\n') --end;
    if (end > 0 && text[end - 1] == '\r') --end;
    size_t at = 0;
    uint64_t serial = 0;
    for (; at < end && text[at] >= '0' && text[at] <= '9'; ++at) {
        const uint64_t digit = uint64_t(text[at] - '0');
        if (serial > (UINT64_MAX - digit) / 10) return false;
        serial = serial * 10 + digit;
    }
    if (at == 0) return false;
    AcceptedRelease parsed;
    parsed.serial = serial;
    if (at < end) {
        const std::wstring digest(text.begin() + long(at) + 1, text.begin() + long(end));
        if (text[at] != ' ' || !ParseSha256Hex(digest, parsed.list_sha256)) return false;
        parsed.has_list = true;
    }
    release = parsed;
    return true;
}

std::string EncodeAcceptedRelease(const AcceptedRelease& release) {
    std::string text = std::to_string(release.serial);
    if (release.has_list) text += " " + WideToUtf8(Sha256ToHex(release.list_sha256));
    return text;
}

AcceptedRelease LaterAcceptedRelease(const AcceptedRelease& a, const AcceptedRelease& b) {
    if (a.serial != b.serial) return a.serial > b.serial ? a : b;
    return !a.has_list && b.has_list ? b : a;
}

}  // namespace velm
