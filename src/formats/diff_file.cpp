#include "formats/diff_file.h"

#include <algorithm>
#include <cstring>

namespace velm {
namespace {

uint32_t GetU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

const char kDiffMagic[4] = {'V', 'D', 'I', 'F'};

// Reads a length-prefixed block at pos, advancing pos; false when it does not fit.
bool TakeBlock(const uint8_t* data, size_t size, size_t& pos, std::vector<uint8_t>& block) {
    if (size - pos < 4) return false;
    uint32_t length = GetU32(data + pos);
    pos += 4;
    if (size - pos < length) return false;
    block.assign(data + pos, data + pos + length);
    pos += length;
    return true;
}

}  // namespace

bool ParseDiffFile(const uint8_t* data, size_t size, DiffFile& diff, std::string& error) {
    if (size < kDiffHeaderSize) {
        error = "diff shorter than its header";
        return false;
    }
    diff.old_size = GetU32(data + 4);
    diff.new_size = int32_t(GetU32(data + 8));
    std::memcpy(diff.old_md5.data(), data + 12, 16);
    std::memcpy(diff.new_md5.data(), data + 28, 16);
    uint32_t count = GetU32(data + 44);
    if (diff.new_size < 0) {
        error = "negative new size";
        return false;
    }
    if (count == 0) {
        error = "diff without control triples";
        return false;
    }
    size_t pos = kDiffHeaderSize;
    if ((size - pos) / 12 < count) {
        error = "control triples truncated";
        return false;
    }
    diff.triples.resize(count);
    for (uint32_t i = 0; i < count; ++i, pos += 12) {
        diff.triples[i] = {int32_t(GetU32(data + pos)), int32_t(GetU32(data + pos + 4)),
                           int32_t(GetU32(data + pos + 8))};
    }
    if (!TakeBlock(data, size, pos, diff.diff_block)) {
        error = "diff block truncated";
        return false;
    }
    if (!TakeBlock(data, size, pos, diff.extra_block)) {
        error = "extra block truncated";
        return false;
    }
    return true;
}

std::vector<uint8_t> SerializeDiffFile(const DiffFile& diff) {
    std::vector<uint8_t> out;
    out.reserve(kDiffHeaderSize + 12 * diff.triples.size() + 8 + diff.diff_block.size() +
                diff.extra_block.size());
    for (char c : kDiffMagic) out.push_back(uint8_t(c));
    PutU32(out, diff.old_size);
    PutU32(out, uint32_t(diff.new_size));
    out.insert(out.end(), diff.old_md5.begin(), diff.old_md5.end());
    out.insert(out.end(), diff.new_md5.begin(), diff.new_md5.end());
    PutU32(out, uint32_t(diff.triples.size()));
    for (const ControlTriple& t : diff.triples) {
        PutU32(out, uint32_t(t.x));
        PutU32(out, uint32_t(t.y));
        PutU32(out, uint32_t(t.z));
    }
    PutU32(out, uint32_t(diff.diff_block.size()));
    out.insert(out.end(), diff.diff_block.begin(), diff.diff_block.end());
    PutU32(out, uint32_t(diff.extra_block.size()));
    out.insert(out.end(), diff.extra_block.begin(), diff.extra_block.end());
    return out;
}

bool ApplyControlTriples(const uint8_t* old_data, size_t old_size, uint8_t* out,
                         size_t new_size, const ControlTriple* triples, size_t count,
                         const uint8_t* diff_block, size_t diff_size,
                         const uint8_t* extra_block, size_t extra_size) {
    if (new_size == 0) return true;
    // 64-bit positions: a hostile z may push the old position far outside the file, and
    // the sum of many 32-bit moves must not wrap.
    int64_t old_pos = 0;
    size_t new_pos = 0, diff_pos = 0, extra_pos = 0;
    const int64_t old_end = int64_t(old_size);
    for (size_t i = 0; i < count; ++i) {
        const ControlTriple& t = triples[i];
        if (t.x < 0 || t.y < 0) return false;
        size_t x = size_t(t.x), y = size_t(t.y);
        if (x > new_size - new_pos || x > diff_size - diff_pos) return false;
        if (x) std::memcpy(out + new_pos, diff_block + diff_pos, x);
        diff_pos += x;
        int64_t from = old_pos < 0 ? 0 : old_pos;
        int64_t to = old_pos + int64_t(x) < old_end ? old_pos + int64_t(x) : old_end;
        for (int64_t p = from; p < to; ++p) out[new_pos + size_t(p - old_pos)] += old_data[p];
        new_pos += x;
        old_pos += int64_t(x);
        if (y > new_size - new_pos || y > extra_size - extra_pos) return false;
        if (y) std::memcpy(out + new_pos, extra_block + extra_pos, y);
        extra_pos += y;
        new_pos += y;
        old_pos += t.z;
        if (new_pos == new_size) return true;
    }
    return false;
}

bool ApplyDiff(const DiffFile& diff, const uint8_t* old_data, size_t old_size,
               std::vector<uint8_t>& result, std::string& error) {
    // Every byte of the result comes from one of the two blocks, so a larger new size is
    // refused before it is allocated (a few bytes of header could otherwise ask for 2 GiB).
    if (size_t(diff.new_size) > diff.diff_block.size() + diff.extra_block.size()) {
        result.clear();
        error = "control triples do not fit the data";
        return false;
    }
    result.assign(size_t(diff.new_size), 0);
    if (!ApplyControlTriples(old_data, old_size, result.data(), result.size(),
                             diff.triples.data(), diff.triples.size(), diff.diff_block.data(),
                             diff.diff_block.size(), diff.extra_block.data(),
                             diff.extra_block.size())) {
        error = "control triples do not fit the data";
        return false;
    }
    if (Md5Bytes(result.data(), result.size()) != diff.new_md5) {
        error = "md5 of the patched result differs";
        return false;
    }
    return true;
}

DiffStreamApplier::DiffStreamApplier(const uint8_t* old_data, size_t old_size, uint64_t available,
                                     uint64_t max_new_size)
    : old_data_(old_data), old_size_(old_size), available_(available), max_new_size_(max_new_size) {}

bool DiffStreamApplier::Fail(const char* reason) {
    error_ = reason;
    phase_ = Phase::kFailed;
    result_ = std::vector<uint8_t>();
    return false;
}

bool DiffStreamApplier::TakeFixed(const uint8_t*& data, size_t& size, size_t want) {
    size_t take = std::min(size, want - fixed_have_);
    std::memcpy(fixed_ + fixed_have_, data, take);
    fixed_have_ += take;
    data += take;
    size -= take;
    if (fixed_have_ < want) return false;
    fixed_have_ = 0;
    return true;
}

bool DiffStreamApplier::HeaderArrived() {
    const int32_t new_size = int32_t(GetU32(fixed_ + 8));
    std::memcpy(new_md5_.data(), fixed_ + 28, 16);
    count_ = GetU32(fixed_ + 44);
    if (new_size < 0) return Fail("negative new size");
    if (uint64_t(new_size) > max_new_size_) return Fail("new size larger than the file it must make");
    if (count_ == 0) return Fail("diff without control triples");
    const uint64_t after_header = available_ > kDiffHeaderSize ? available_ - kDiffHeaderSize : 0;
    if (after_header / 12 < count_) return Fail("control triples truncated");
    new_size_ = size_t(new_size);
    triples_.reserve(count_);
    phase_ = Phase::kTriples;
    return true;
}

// Finds the triples that make the result and checks them before anything that large is
// allocated: every byte of the result comes from one of the blocks, so the new size must
// fit the bytes still to come.
bool DiffStreamApplier::TriplesArrived() {
    uint64_t pos = 0;
    for (size_t i = 0; i < triples_.size() && pos < new_size_; ++i) {
        const ControlTriple& t = triples_[i];
        if (t.x < 0 || t.y < 0) return Fail("control triples do not fit the data");
        pos += uint64_t(t.x) + uint64_t(t.y);
        if (pos > new_size_) return Fail("control triples do not fit the data");
        sum_x_ += uint64_t(t.x);
        sum_y_ += uint64_t(t.y);
        used_ = i + 1;
    }
    if (pos != new_size_) return Fail("control triples do not fit the data");
    const uint64_t consumed = kDiffHeaderSize + 12 * uint64_t(count_) + 8;
    if (available_ < consumed || new_size_ > available_ - consumed)
        return Fail("control triples do not fit the data");
    result_.resize(new_size_);
    phase_ = Phase::kDiffLength;
    return true;
}

// The diff-block bytes of one triple land at its place in the result, added to the old
// bytes under them; old positions outside the old file add nothing.
void DiffStreamApplier::AddDiffBytes(const uint8_t* data, size_t size) {
    while (size > 0 && step_ < used_) {
        if (step_left_ == 0) {
            new_pos_ += size_t(triples_[step_].y);
            old_pos_ += triples_[step_].z;
            if (++step_ < used_) step_left_ = size_t(triples_[step_].x);
            continue;
        }
        const size_t take = std::min(size, step_left_);
        uint8_t* out = result_.data() + new_pos_;
        const int64_t end = old_pos_ + int64_t(take);
        const size_t inside_from = old_pos_ >= 0 ? 0 : size_t(std::min<int64_t>(-old_pos_, int64_t(take)));
        const size_t inside_to =
            end <= int64_t(old_size_) ? take : size_t(std::max<int64_t>(int64_t(old_size_) - old_pos_, int64_t(inside_from)));
        std::memcpy(out, data, inside_from);
        const uint8_t* old = old_data_ + (old_pos_ + int64_t(inside_from));
        for (size_t k = inside_from; k < inside_to; ++k) out[k] = uint8_t(data[k] + old[k - inside_from]);
        std::memcpy(out + inside_to, data + inside_to, take - inside_to);
        new_pos_ += take;
        old_pos_ = end;
        step_left_ -= take;
        data += take;
        size -= take;
    }
}

// The extra-block bytes of one triple fill the gap after its diff-block bytes.
void DiffStreamApplier::CopyExtraBytes(const uint8_t* data, size_t size) {
    while (size > 0 && step_ < used_) {
        if (step_left_ == 0) {
            if (++step_ < used_) {
                new_pos_ += size_t(triples_[step_].x);
                step_left_ = size_t(triples_[step_].y);
            }
            continue;
        }
        const size_t take = std::min(size, step_left_);
        std::memcpy(result_.data() + new_pos_, data, take);
        new_pos_ += take;
        step_left_ -= take;
        data += take;
        size -= take;
    }
}

bool DiffStreamApplier::Feed(const uint8_t* data, size_t size) {
    while (size > 0) {
        switch (phase_) {
        case Phase::kFailed:
            return false;
        case Phase::kDone:
            return true;  // anything after the extra block is ignored
        case Phase::kHeader:
            if (TakeFixed(data, size, kDiffHeaderSize) && !HeaderArrived()) return false;
            break;
        case Phase::kTriples:
            if (TakeFixed(data, size, 12)) {
                triples_.push_back({int32_t(GetU32(fixed_)), int32_t(GetU32(fixed_ + 4)), int32_t(GetU32(fixed_ + 8))});
                if (triples_.size() == count_ && !TriplesArrived()) return false;
            }
            break;
        case Phase::kDiffLength:
            if (TakeFixed(data, size, 4)) {
                block_left_ = GetU32(fixed_);
                if (block_left_ < sum_x_) return Fail("control triples do not fit the data");
                step_ = 0;
                step_left_ = used_ ? size_t(triples_[0].x) : 0;
                new_pos_ = 0;
                old_pos_ = 0;
                phase_ = block_left_ ? Phase::kDiffBlock : Phase::kExtraLength;
            }
            break;
        case Phase::kDiffBlock: {
            const size_t take = size_t(std::min<uint64_t>(size, block_left_));
            AddDiffBytes(data, take);
            data += take;
            size -= take;
            block_left_ -= take;
            if (block_left_ == 0) phase_ = Phase::kExtraLength;
            break;
        }
        case Phase::kExtraLength:
            if (TakeFixed(data, size, 4)) {
                block_left_ = GetU32(fixed_);
                if (block_left_ < sum_y_) return Fail("control triples do not fit the data");
                step_ = 0;
                step_left_ = used_ ? size_t(triples_[0].y) : 0;
                new_pos_ = used_ ? size_t(triples_[0].x) : 0;
                phase_ = block_left_ ? Phase::kExtraBlock : Phase::kDone;
            }
            break;
        case Phase::kExtraBlock: {
            const size_t take = size_t(std::min<uint64_t>(size, block_left_));
            CopyExtraBytes(data, take);
            data += take;
            size -= take;
            block_left_ -= take;
            if (block_left_ == 0) phase_ = Phase::kDone;
            break;
        }
        }
    }
    return phase_ != Phase::kFailed;
}

bool DiffStreamApplier::Finish() {
    switch (phase_) {
    case Phase::kFailed:
        return false;
    case Phase::kHeader:
        return Fail("diff shorter than its header");
    case Phase::kTriples:
        return Fail("control triples truncated");
    case Phase::kDiffLength:
    case Phase::kDiffBlock:
        return Fail("diff block truncated");
    case Phase::kExtraLength:
    case Phase::kExtraBlock:
        return Fail("extra block truncated");
    case Phase::kDone:
        break;
    }
    if (Md5Bytes(result_.data(), result_.size()) != new_md5_) {
        digest_mismatch_ = true;
        return Fail("md5 of the patched result differs");
    }
    return true;
}

}  // namespace velm
