#pragma once
// What a file list vouches for in an object beyond its MD5: the SHA-256 and the length
// of the bytes the launcher ends up with (a decoded file, a decoded diff, the new
// launcher). MD5 alone lets whoever can place one file in a release prepare a second
// with the same digest; under a release signature these two are what bind every object
// to the list.
#include <array>
#include <cstdint>
#include <string>

namespace velm {

using Sha256Digest = std::array<uint8_t, 32>;

// The largest object a list may describe: no client file comes near it, and a size that
// is listed larger is not one a player's disk should be asked for.
constexpr uint64_t kMaxListedObjectBytes = uint64_t(16) << 30;

struct ContentDigest {
    bool present = false;
    Sha256Digest sha256{};
    uint64_t size = 0;

    bool operator==(const ContentDigest& other) const {
        return present == other.present && (!present || (sha256 == other.sha256 && size == other.size));
    }
    bool operator!=(const ContentDigest& other) const { return !(*this == other); }
};

// Exactly 64 hexadecimal digits, either case.
bool ParseSha256Hex(const std::wstring& text, Sha256Digest& digest);
// 64 lower-case hexadecimal digits.
std::wstring Sha256ToHex(const Sha256Digest& digest);

}  // namespace velm
