#pragma once
// MD5 (RFC 1321): the digest of every client file, diff result, file list and resume block.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velm {

using Md5Digest = std::array<uint8_t, 16>;

// Incremental MD5. Not thread-safe; one object per stream.
class Md5 {
public:
    Md5();
    void Update(const void* data, size_t size);
    Md5Digest Finish();

private:
    void Transform(const uint8_t* block);

    uint32_t state_[4];
    uint64_t length_ = 0;
    uint8_t buffer_[64];
    size_t buffered_ = 0;
};

Md5Digest Md5Bytes(const void* data, size_t size);

// 32 upper-case hexadecimal digits, the form every stored and published hash uses.
std::wstring Md5ToHex(const Md5Digest& digest);
// The digest of 32 hexadecimal digits in either case; false for any other text.
bool Md5FromHex(const std::wstring& text, Md5Digest& digest);

// Digest of a whole file, read in blocks of kMd5FileBlock bytes from start to end. False
// when the file cannot be opened or read, or when cancelled is set before the end (checked
// once per block, so that a multi-GB file does not hold up a cancelled run).
constexpr size_t kMd5FileBlock = 1 << 20;
bool Md5File(const std::wstring& path, Md5Digest& digest, const std::atomic<bool>* cancelled = nullptr);
// The same with the caller's buffer (resized to the block size when smaller), for hashing
// file after file without a fresh block of memory for each.
bool Md5File(const std::wstring& path, Md5Digest& digest, const std::atomic<bool>* cancelled,
             std::vector<uint8_t>& buffer);

// Published hashes are compared without regard to letter case.
bool HashTextEquals(const std::wstring& a, const std::wstring& b);

}  // namespace velm
