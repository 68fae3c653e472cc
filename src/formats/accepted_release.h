#pragma once
// The record of the release an installation has accepted last ("LocalReleaseSerial.txt",
// and the same text in the installation's registry key): the release serial in decimal
// digits, then, since the record carries it, one blank and the SHA-256 of that release's
// file list in 64 hexadecimal digits, and an optional line end:
//
//   "17 3f0c...e9" or "17" (written before the list's digest was kept)
//
// The serial lets the launcher refuse an older release, the digest a different list
// under the same serial. Anything else is not a record: the launcher then refuses every
// release rather than forget what it accepted.
#include <cstdint>
#include <string>

#include "formats/content_digest.h"

namespace velm {

struct AcceptedRelease {
    uint64_t serial = 0;  // 0: none accepted yet
    bool has_list = false;
    Sha256Digest list_sha256{};

    bool operator==(const AcceptedRelease& other) const {
        return serial == other.serial && has_list == other.has_list &&
               (!has_list || list_sha256 == other.list_sha256);
    }
    bool operator!=(const AcceptedRelease& other) const { return !(*this == other); }
};

// A record is at most this long; a longer text is not one.
constexpr size_t kMaxAcceptedReleaseChars = 128;

bool ParseAcceptedRelease(const std::string& text, AcceptedRelease& release);
std::string EncodeAcceptedRelease(const AcceptedRelease& release);

// The later of two records: the higher serial, and at an equal serial the one that names
// its list (the first when both or neither do).
AcceptedRelease LaterAcceptedRelease(const AcceptedRelease& a, const AcceptedRelease& b);

}  // namespace velm
