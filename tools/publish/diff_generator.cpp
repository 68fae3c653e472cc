#include "diff_generator.h"

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

// Two seed indexes. Long seeds (16 bytes) at every 2nd old position find any match of 17
// bytes or more, at most one byte after its start (the backward extension of the next
// step recovers it); short seeds (8 bytes) at every position find the short matches that
// new code shares with old code. An index never takes more than kMaxSeedSlots slots: the
// long one thins out to every 4th position and beyond for large files, the short one is
// left out when it would have to skip more than every 2nd position.
struct SeedShape {
    int64_t length;
    int64_t stride;
    int64_t max_stride;
};
constexpr SeedShape kLongSeeds = {16, 2, INT64_MAX};
constexpr SeedShape kShortSeeds = {8, 1, 2};
constexpr int64_t kMaxSeedSlots = int64_t(1) << 24;

// A new match replaces the current alignment when it is longer than what the alignment
// still matches there by a margin that grows with that match: from 12 bytes where the
// alignment matches nothing (an insertion, where short matches are worth taking) to 16
// where it mostly matches (code whose addresses shifted, where a short exact match
// elsewhere costs a triple on each side and breaks the run of zero diff bytes). bsdiff's
// fixed 8 switches too readily; a fixed 16 passes over useful matches in new code.
constexpr int64_t kMinSwitchMargin = 12;
constexpr int64_t kMaxSwitchMargin = 16;

int64_t SwitchMargin(int64_t aligned_matches) {
    return kMinSwitchMargin + std::min(kMaxSwitchMargin - kMinSwitchMargin, aligned_matches / 2);
}

// Exact length alone misjudges tables and code where every few bytes changed: the right
// alignment matches only in short pieces, while a wrong one a whole number of records
// away matches about as often by chance, so the scan could keep the wrong one for
// hundreds of KiB. A candidate also wins when it agrees with the new bytes on this many
// more of the next kAgreementWindow bytes than the current alignment does.
constexpr int64_t kAgreementWindow = 128;
constexpr int64_t kAgreementMargin = 24;
constexpr int64_t kMinAgreementMatch = 8;

uint64_t SeedHash(const uint8_t* at, int64_t length) {
    uint64_t a, b = 0;
    std::memcpy(&a, at, 8);
    if (length > 8) std::memcpy(&b, at + 8, 8);
    uint64_t h = a * 0x9E3779B97F4A7C15ull ^ (b + 0x632BE59BD9B4E019ull) * 0xC2B2AE3D27D4EB4Full;
    return h ^ (h >> 31);
}

// Where in the old file a seed occurs. One slot per indexed position (rounded up to a
// power of two), the last position with a hash wins, and a lookup is only a candidate
// that the caller checks against the bytes. A full suffix array would find slightly
// longer matches but needs 4 bytes per old byte, and with the two files that is more
// than half of what bsdiff needs; each index here takes at most 64 MiB, and only the
// long one is built for old files over 32 MiB.
class SeedIndex {
public:
    bool Build(const uint8_t* old_data, int64_t old_size, const SeedShape& shape) {
        length_ = shape.length;
        if (old_size < length_) return true;
        int64_t stride = shape.stride;
        while ((old_size - length_) / stride + 1 > kMaxSeedSlots) stride *= 2;
        if (stride > shape.max_stride) return true;
        const int64_t seeds = (old_size - length_) / stride + 1;
        int bits = 10;
        while ((int64_t(1) << bits) < seeds && bits < 31) ++bits;
        const size_t slots = size_t(1) << bits;
        slots_.reset(new (std::nothrow) int32_t[slots]);
        if (!slots_) return false;
        shift_ = 64 - bits;
        std::fill(slots_.get(), slots_.get() + slots, -1);
        for (int64_t p = 0; p + length_ <= old_size; p += stride)
            slots_[SeedHash(old_data + p, length_) >> shift_] = int32_t(p);
        return true;
    }
    // -1 when no indexed position has the seed's hash (or the index was left out).
    int64_t Candidate(const uint8_t* seed) const {
        return slots_ ? slots_[SeedHash(seed, length_) >> shift_] : -1;
    }
    int64_t SeedLength() const { return length_; }

private:
    std::unique_ptr<int32_t[]> slots_;
    int shift_ = 64;
    int64_t length_ = 0;
};

class Matcher {
public:
    Matcher(const uint8_t* old_data, int64_t old_size, const uint8_t* new_data,
            int64_t new_size, const SeedIndex& long_index, const SeedIndex& short_index,
            DiffFile& diff)
        : old_(old_data), old_size_(old_size), new_(new_data), new_size_(new_size),
          indexes_{&long_index, &short_index}, diff_(diff) {}

    void Run();

private:
    // The longest of the candidates: each seed index's, and the old position the current
    // alignment continues to (kept on a tie, so that an unchanged stretch stays one step).
    int64_t FindMatch(int64_t scan, int64_t& pos) const {
        int64_t best = 0;
        pos = 0;
        const int64_t aligned = scan + last_offset_;
        if (aligned >= 0 && aligned < old_size_) {
            best = MatchLength(old_ + aligned, old_size_ - aligned, new_ + scan, new_size_ - scan);
            pos = aligned;
        }
        for (const SeedIndex* index : indexes_) {
            if (new_size_ - scan < index->SeedLength()) continue;
            const int64_t seed = index->Candidate(new_ + scan);
            if (seed >= 0 && seed != aligned) {
                const int64_t len = MatchLength(old_ + seed, old_size_ - seed, new_ + scan, new_size_ - scan);
                if (len > best) {
                    best = len;
                    pos = seed;
                }
            }
        }
        return best;
    }
    // How many of the n new bytes from new_at equal the old bytes from old_at.
    int64_t Agreement(int64_t new_at, int64_t old_at, int64_t n) const {
        int64_t same = 0;
        for (int64_t i = 0; i < n && new_at + i < new_size_ && old_at + i >= 0 && old_at + i < old_size_; ++i)
            same += old_[old_at + i] == new_[new_at + i];
        return same;
    }
    bool AgreesBetter(int64_t scan, int64_t pos, int64_t len) const {
        const int64_t aligned = scan + last_offset_;
        return len >= kMinAgreementMatch && pos != aligned &&
               Agreement(scan, pos, kAgreementWindow) >
                   Agreement(scan, aligned, kAgreementWindow) + kAgreementMargin;
    }
    void Emit(int64_t scan, int64_t pos);

    const uint8_t* old_;
    int64_t old_size_;
    const uint8_t* new_;
    int64_t new_size_;
    const SeedIndex* indexes_[2];
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
            if ((len == old_score && len != 0) || len > old_score + SwitchMargin(old_score) ||
                AgreesBetter(scan, pos, len))
                break;
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
    const int64_t move = (pos - len_back) - (last_pos_ + len_forward);
    // In repeating data the scan can step back one period at a time without taking a
    // byte; the previous triple's move absorbs such an empty step (the moves in between
    // only ever shift the old position, which nothing reads until the next x step).
    if (len_forward == 0 && extra == 0 && !diff_.triples.empty())
        diff_.triples.back().z = int32_t(diff_.triples.back().z + move);
    else
        diff_.triples.push_back({int32_t(len_forward), int32_t(extra), int32_t(move)});
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
    // pair measured, and keeps the encoder's memory small.
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
    {
        SeedIndex long_index, short_index;
        if (!long_index.Build(old_data, int64_t(old_size), kLongSeeds) ||
            !short_index.Build(old_data, int64_t(old_size), kShortSeeds)) {
            error = "out of memory for the seed index";
            return false;
        }
        Matcher(old_data, int64_t(old_size), new_data, int64_t(new_size), long_index,
                short_index, diff).Run();
    }
    // The diff block is made once the index is gone: the two never share memory.
    FillDiffBlock(old_data, new_data, diff);
    // The reader rejects a diff without triples, and an empty new file has none.
    if (diff.triples.empty()) diff.triples.push_back({0, 0, 0});
    return true;
}

}  // namespace velm::publish
