#include "common/md5.h"

#include <cstring>
#include <vector>

#include "common/file_io.h"

namespace velm {
namespace {

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

inline uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t LoadLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

Md5::Md5() : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476} {}

void Md5::Transform(const uint8_t* block) {
    uint32_t m[16];
    for (int i = 0; i < 16; ++i) m[i] = LoadLe32(block + 4 * i);
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    // One loop per round, each fully unrolled, so that the round function and message
    // index are constants (bench/md5.sh measures this against openssl).
    auto step = [&](uint32_t f, int i, int g) {
        uint32_t rotated = b + RotateLeft(a + (m[g] + kSine[i]) + f, kShift[i]);
        a = d;
        d = c;
        c = b;
        b = rotated;
    };
#pragma GCC unroll 16
    for (int i = 0; i < 16; ++i) step(d ^ (b & (c ^ d)), i, i);
#pragma GCC unroll 16
    for (int i = 16; i < 32; ++i) {
        // The two halves of the round function do not overlap, so they can be added
        // separately; the one without b does not wait for the previous step.
        const int g = (5 * i + 1) & 15;
        uint32_t early = a + (m[g] + kSine[i]) + (~d & c);
        uint32_t rotated = b + RotateLeft(early + (d & b), kShift[i]);
        a = d;
        d = c;
        c = b;
        b = rotated;
    }
#pragma GCC unroll 16
    for (int i = 32; i < 48; ++i) step(b ^ c ^ d, i, (3 * i + 5) & 15);
#pragma GCC unroll 16
    for (int i = 48; i < 64; ++i) step(c ^ (b | ~d), i, (7 * i) & 15);
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

void Md5::Update(const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    length_ += size;
    if (buffered_ > 0) {
        size_t take = std::min(size, sizeof(buffer_) - buffered_);
        std::memcpy(buffer_ + buffered_, p, take);
        buffered_ += take;
        p += take;
        size -= take;
        if (buffered_ < sizeof(buffer_)) return;
        Transform(buffer_);
        buffered_ = 0;
    }
    for (; size >= 64; p += 64, size -= 64) Transform(p);
    if (size > 0) {
        std::memcpy(buffer_, p, size);
        buffered_ = size;
    }
}

Md5Digest Md5::Finish() {
    uint64_t bits = length_ * 8;
    static const uint8_t kPadding[64] = {0x80};
    size_t pad = buffered_ < 56 ? 56 - buffered_ : 120 - buffered_;
    Update(kPadding, pad);
    uint8_t tail[8];
    for (int i = 0; i < 8; ++i) tail[i] = uint8_t(bits >> (8 * i));
    Update(tail, 8);
    Md5Digest digest;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) digest[4 * i + j] = uint8_t(state_[i] >> (8 * j));
    return digest;
}

Md5Digest Md5Bytes(const void* data, size_t size) {
    Md5 md5;
    md5.Update(data, size);
    return md5.Finish();
}

std::wstring Md5ToHex(const Md5Digest& digest) {
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    std::wstring text;
    text.reserve(32);
    for (uint8_t byte : digest) {
        text.push_back(kHex[byte >> 4]);
        text.push_back(kHex[byte & 15]);
    }
    return text;
}

bool Md5FromHex(const std::wstring& text, Md5Digest& digest) {
    if (text.size() != 32) return false;
    auto nibble = [](wchar_t c) -> int {
        if (c >= L'0' && c <= L'9') return c - L'0';
        if (c >= L'a' && c <= L'f') return c - L'a' + 10;
        if (c >= L'A' && c <= L'F') return c - L'A' + 10;
        return -1;
    };
    for (size_t i = 0; i < 16; ++i) {
        const int high = nibble(text[2 * i]), low = nibble(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        digest[i] = uint8_t(high << 4 | low);
    }
    return true;
}

bool Md5File(const std::wstring& path, Md5Digest& digest, const std::atomic<bool>* cancelled) {
    std::vector<uint8_t> buffer;
    return Md5File(path, digest, cancelled, buffer);
}

bool Md5File(const std::wstring& path, Md5Digest& digest, const std::atomic<bool>* cancelled,
             std::vector<uint8_t>& buffer) {
    FileHandle file = OpenFile(path, FileMode::kReadSequential);
    if (!file) return false;
    if (buffer.size() < kMd5FileBlock) buffer.resize(kMd5FileBlock);
    Md5 md5;
    for (;;) {
        if (cancelled && cancelled->load()) return false;
        size_t got = std::fread(buffer.data(), 1, kMd5FileBlock, file.get());
        if (got > 0) md5.Update(buffer.data(), got);
        if (got < kMd5FileBlock) {
            if (std::ferror(file.get())) return false;
            break;
        }
    }
    digest = md5.Finish();
    return true;
}

bool HashTextEquals(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        wchar_t x = a[i], y = b[i];
        if (x >= L'a' && x <= L'z') x = wchar_t(x - 32);
        if (y >= L'a' && y <= L'z') y = wchar_t(y - 32);
        if (x != y) return false;
    }
    return true;
}

}  // namespace velm
