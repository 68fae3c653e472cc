#pragma once
// Diff files: the bsdiff-style patch that turns one published version of a client file
// into the next. Reader, writer and the byte-level patch step in one place; the launcher
// applies them, the publisher writes them.
//
//   0    4  magic "VDIF" (not examined by the reader)
//   4    4  size of the old file, 32-bit (not examined)
//   8    4  new size: length of the patched file (signed 32-bit)
//   12  16  MD5 of the old file (not examined)
//   28  16  MD5 of the patched file
//   44   4  N: number of control triples (unsigned 32-bit, 0 is rejected)
//   48 12N  triples: x, y, z, each signed 32-bit
//   ..   4  L1, then L1 bytes of diff block
//   ..   4  L2, then L2 bytes of extra block
//   ..      anything after the extra block is ignored
// All integers little-endian.
#include "common/md5.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace velm {

struct ControlTriple {
    int32_t x;  // bytes made by adding diff-block bytes to old bytes
    int32_t y;  // bytes copied from the extra block
    int32_t z;  // move of the old read position after the step (may be negative)
};

struct DiffFile {
    uint32_t old_size = 0;
    Md5Digest old_md5{};
    int32_t new_size = 0;
    Md5Digest new_md5{};
    std::vector<ControlTriple> triples;
    std::vector<uint8_t> diff_block;
    std::vector<uint8_t> extra_block;
};

constexpr size_t kDiffHeaderSize = 48;

// Every count and length is checked against the bytes actually present before anything is
// allocated. Returns false with a short English reason in error.
bool ParseDiffFile(const uint8_t* data, size_t size, DiffFile& diff, std::string& error);

std::vector<uint8_t> SerializeDiffFile(const DiffFile& diff);

// Fills out[0..new_size) from old and the blocks. False on any inconsistency: negative x
// or y, a step past the new size, a read past either block, or triples that run out
// before the new size is reached. The caller checks the result's MD5.
bool ApplyControlTriples(const uint8_t* old_data, size_t old_size, uint8_t* out,
                         size_t new_size, const ControlTriple* triples, size_t count,
                         const uint8_t* diff_block, size_t diff_size,
                         const uint8_t* extra_block, size_t extra_size);

// Applies a parsed diff to old and checks the result against the digest in the header.
bool ApplyDiff(const DiffFile& diff, const uint8_t* old_data, size_t old_size,
               std::vector<uint8_t>& result, std::string& error);

// Applies a diff as its bytes arrive, in pieces of any size, without holding it: the
// triples are kept, diff-block bytes are added to the old bytes straight into the result,
// and extra-block bytes fill the gaps the triples leave between them. Same checks and
// result as ParseDiffFile and ApplyDiff, but no copy of the diff and its blocks, which
// for a large file cost more than the patch step itself. available is the most bytes the
// caller will feed (the decoded diff's size); a new size that could not come from that
// many bytes, or that is larger than max_new_size (the size a file list gives the result),
// is refused before the result is allocated.
class DiffStreamApplier {
public:
    DiffStreamApplier(const uint8_t* old_data, size_t old_size, uint64_t available,
                      uint64_t max_new_size = UINT64_MAX);

    // False, with a reason in Error(), once the bytes so far cannot make a valid diff.
    bool Feed(const uint8_t* data, size_t size);
    // True when the whole diff arrived and the result matched its MD5.
    bool Finish();

    const std::vector<uint8_t>& Result() const { return result_; }
    // Hands the result over without a copy; the applier is spent.
    std::vector<uint8_t> TakeResult() { return std::move(result_); }
    const std::string& Error() const { return error_; }
    // The diff was whole and consistent but the result's MD5 differs.
    bool DigestMismatch() const { return digest_mismatch_; }

private:
    enum class Phase { kHeader, kTriples, kDiffLength, kDiffBlock, kExtraLength, kExtraBlock, kDone, kFailed };

    bool Fail(const char* reason);
    bool TakeFixed(const uint8_t*& data, size_t& size, size_t want);
    bool HeaderArrived();
    bool TriplesArrived();
    void AddDiffBytes(const uint8_t* data, size_t size);
    void CopyExtraBytes(const uint8_t* data, size_t size);

    const uint8_t* old_data_;
    size_t old_size_;
    uint64_t available_;
    uint64_t max_new_size_;
    Phase phase_ = Phase::kHeader;
    uint8_t fixed_[kDiffHeaderSize];
    size_t fixed_have_ = 0;
    Md5Digest new_md5_{};
    size_t new_size_ = 0;
    uint32_t count_ = 0;
    std::vector<ControlTriple> triples_;
    size_t used_ = 0;           // triples up to the one that reaches the new size
    uint64_t sum_x_ = 0, sum_y_ = 0;
    uint64_t block_left_ = 0;   // bytes of the current block still to come
    size_t step_ = 0;           // triple whose x (or y) bytes come next
    size_t step_left_ = 0;      // of its x (or y) bytes
    size_t new_pos_ = 0;
    int64_t old_pos_ = 0;
    std::vector<uint8_t> result_;
    std::string error_;
    bool digest_mismatch_ = false;
};

}  // namespace velm
