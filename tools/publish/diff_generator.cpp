#include "diff_generator.h"

#include <divsufsort.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace velm::publish {
namespace {

int64_t MatchLength(const uint8_t* a, int64_t a_size, const uint8_t* b, int64_t b_size) {
    int64_t n = std::min(a_size, b_size), i = 0;
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

// Longest match of target among the suffixes of old, by binary search over the suffix
// array; pos receives where it starts in old.
int64_t Search(const int32_t* sa, const uint8_t* old_data, int64_t old_size,
               const uint8_t* target, int64_t target_size, int64_t st, int64_t en,
               int64_t& pos) {
    while (en - st >= 2) {
        int64_t mid = st + (en - st) / 2;
        int64_t from = sa[mid];
        int64_t n = std::min(old_size - from, target_size);
        if (std::memcmp(old_data + from, target, size_t(n)) < 0)
            st = mid;
        else
            en = mid;
    }
    int64_t x = MatchLength(old_data + sa[st], old_size - sa[st], target, target_size);
    int64_t y = MatchLength(old_data + sa[en], old_size - sa[en], target, target_size);
    if (x > y) {
        pos = sa[st];
        return x;
    }
    pos = sa[en];
    return y;
}

class Matcher {
public:
    Matcher(const uint8_t* old_data, int64_t old_size, const uint8_t* new_data,
            int64_t new_size, const int32_t* sa, DiffFile& diff)
        : old_(old_data), old_size_(old_size), new_(new_data), new_size_(new_size), sa_(sa),
          diff_(diff) {}

    void Run();

private:
    int64_t FindMatch(int64_t scan, int64_t& pos) const {
        if (old_size_ == 0) return 0;
        return Search(sa_, old_, old_size_, new_ + scan, new_size_ - scan, 0, old_size_ - 1,
                      pos);
    }
    void Emit(int64_t scan, int64_t pos);

    const uint8_t* old_;
    int64_t old_size_;
    const uint8_t* new_;
    int64_t new_size_;
    const int32_t* sa_;
    DiffFile& diff_;
    int64_t last_scan_ = 0, last_pos_ = 0, last_offset_ = 0;
};

void Matcher::Run() {
    int64_t scan = 0, len = 0, pos = 0;
    while (scan < new_size_) {
        int64_t old_score = 0;
        int64_t scsc = scan += len;
        for (; scan < new_size_; ++scan) {
            len = FindMatch(scan, pos);
            for (; scsc < scan + len; ++scsc) {
                if (scsc + last_offset_ < old_size_ && old_[scsc + last_offset_] == new_[scsc])
                    ++old_score;
            }
            if ((len == old_score && len != 0) || len > old_score + 8) break;
            if (scan + last_offset_ < old_size_ && old_[scan + last_offset_] == new_[scan])
                --old_score;
        }
        if (len != old_score || scan == new_size_) Emit(scan, pos);
    }
}

// Closes the stretch from the last match to the match found at (scan, pos): the forward
// extension of the last match becomes an x step (its diff bytes are made later), the gap
// becomes extra bytes.
void Matcher::Emit(int64_t scan, int64_t pos) {
    int64_t s = 0, best_forward = 0, len_forward = 0;
    for (int64_t i = 0; last_scan_ + i < scan && last_pos_ + i < old_size_;) {
        if (old_[last_pos_ + i] == new_[last_scan_ + i]) ++s;
        ++i;
        if (s * 2 - i > best_forward * 2 - len_forward) {
            best_forward = s;
            len_forward = i;
        }
    }
    int64_t len_back = 0;
    if (scan < new_size_) {
        int64_t best_back = 0;
        s = 0;
        for (int64_t i = 1; scan >= last_scan_ + i && pos >= i; ++i) {
            if (old_[pos - i] == new_[scan - i]) ++s;
            if (s * 2 - i > best_back * 2 - len_back) {
                best_back = s;
                len_back = i;
            }
        }
    }
    if (last_scan_ + len_forward > scan - len_back) {
        int64_t overlap = (last_scan_ + len_forward) - (scan - len_back);
        int64_t best = 0, len_split = 0;
        s = 0;
        for (int64_t i = 0; i < overlap; ++i) {
            if (new_[last_scan_ + len_forward - overlap + i] ==
                old_[last_pos_ + len_forward - overlap + i])
                ++s;
            if (new_[scan - len_back + i] == old_[pos - len_back + i]) --s;
            if (s > best) {
                best = s;
                len_split = i + 1;
            }
        }
        len_forward += len_split - overlap;
        len_back -= len_split;
    }
    int64_t extra = (scan - len_back) - (last_scan_ + len_forward);
    diff_.extra_block.insert(diff_.extra_block.end(), new_ + last_scan_ + len_forward,
                             new_ + last_scan_ + len_forward + extra);
    diff_.triples.push_back({int32_t(len_forward), int32_t(extra),
                             int32_t((pos - len_back) - (last_pos_ + len_forward))});
    last_scan_ = scan - len_back;
    last_pos_ = pos - len_back;
    last_offset_ = pos - scan;
}

// Replays the triples: every x step is new bytes minus the old bytes they match.
void FillDiffBlock(const uint8_t* old_data, const uint8_t* new_data, DiffFile& diff) {
    size_t total = 0;
    for (const ControlTriple& t : diff.triples) total += size_t(t.x);
    diff.diff_block.resize(total);
    uint8_t* out = diff.diff_block.data();
    int64_t old_pos = 0, new_pos = 0;
    for (const ControlTriple& t : diff.triples) {
        for (int32_t i = 0; i < t.x; ++i)
            *out++ = uint8_t(new_data[new_pos + i] - old_data[old_pos + i]);
        new_pos += int64_t(t.x) + t.y;
        old_pos += int64_t(t.x) + t.z;
    }
}

}  // namespace

LzmaEncoderSettings DiffContainerSettings() {
    LzmaEncoderSettings settings;
    settings.lc = 2;
    settings.lp = 0;
    settings.pb = 0;
    settings.fb = 273;
    // Matches in a diff are local: a 1 MiB window compresses as well as 64 MiB on every
    // pair measured, and keeps the encoder's memory small beside the suffix array.
    settings.dict_size = 1u << 20;
    return settings;
}

bool MakeDiff(const uint8_t* old_data, size_t old_size, const uint8_t* new_data,
              size_t new_size, DiffFile& diff, std::string& error) {
    if (old_size > kMaxDiffFileSize || new_size > kMaxDiffFileSize) {
        error = "file too large for a diff (2 GiB at most)";
        return false;
    }
    diff = DiffFile();
    diff.old_size = uint32_t(old_size);
    diff.old_md5 = Md5Bytes(old_data, old_size);
    diff.new_size = int32_t(new_size);
    diff.new_md5 = Md5Bytes(new_data, new_size);
    std::unique_ptr<int32_t[]> sa;
    if (old_size > 0) {
        sa.reset(new (std::nothrow) int32_t[old_size]);
        if (!sa || divsufsort(old_data, sa.get(), int32_t(old_size)) != 0) {
            error = "suffix sorting failed (out of memory?)";
            return false;
        }
    }
    Matcher(old_data, int64_t(old_size), new_data, int64_t(new_size), sa.get(), diff).Run();
    // The diff block is made once the suffix array is gone: the two never share memory.
    sa.reset();
    FillDiffBlock(old_data, new_data, diff);
    // The reader rejects a diff without triples, and an empty new file has none.
    if (diff.triples.empty()) diff.triples.push_back({0, 0, 0});
    return true;
}

}  // namespace velm::publish
