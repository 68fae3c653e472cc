// A diff file from the patch server applied to an installed file. Input: a 16-bit length,
// that many bytes of old file, then the diff file. The reader must only accept what the
// writer gives back; applying must match a plain byte-by-byte reading of the format and
// never allocate for a result the blocks cannot fill.
#include "fuzz_support.h"

#include "formats/diff_file.h"

#include <cstring>

namespace {

// The format read one byte at a time, every access checked on its own.
bool ReferenceApply(const uint8_t* old_data, size_t old_size, const velm::DiffFile& diff,
                    size_t new_size, std::vector<uint8_t>& out) {
    out.assign(new_size, 0);
    if (new_size == 0) return true;
    int64_t old_pos = 0;
    size_t new_pos = 0, diff_pos = 0, extra_pos = 0;
    for (const velm::ControlTriple& t : diff.triples) {
        if (t.x < 0 || t.y < 0) return false;
        for (int32_t k = 0; k < t.x; ++k) {
            if (new_pos >= new_size || diff_pos >= diff.diff_block.size()) return false;
            uint8_t add = diff.diff_block[diff_pos++];
            int64_t at = old_pos + k;
            if (at >= 0 && at < int64_t(old_size)) add = uint8_t(add + old_data[at]);
            out[new_pos++] = add;
        }
        old_pos += t.x;
        for (int32_t k = 0; k < t.y; ++k) {
            if (new_pos >= new_size || extra_pos >= diff.extra_block.size()) return false;
            out[new_pos++] = diff.extra_block[extra_pos++];
        }
        old_pos += t.z;
        if (new_pos == new_size) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const velm_fuzz::TwoPieces input = velm_fuzz::SplitInput(data, size);
    velm::DiffFile diff;
    std::string error;
    if (!velm::ParseDiffFile(input.second, input.second_size, diff, error)) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    // The writer gives back every byte the reader looked at (the magic is not examined).
    const std::vector<uint8_t> written = velm::SerializeDiffFile(diff);
    FUZZ_CHECK(written.size() <= input.second_size);
    FUZZ_CHECK(std::memcmp(written.data() + 4, input.second + 4, written.size() - 4) == 0);

    std::vector<uint8_t> result;
    const bool applied = velm::ApplyDiff(diff, input.first, input.first_size, result, error);
    if (applied) {
        FUZZ_CHECK(result.size() == size_t(diff.new_size));
        FUZZ_CHECK(velm::Md5Bytes(result.data(), result.size()) == diff.new_md5);
    }

    // The digest hides the patch step from random inputs; compare the step alone, at the
    // declared size when the blocks can fill it.
    const size_t new_size = size_t(diff.new_size);
    if (new_size > diff.diff_block.size() + diff.extra_block.size()) return 0;
    std::vector<uint8_t> expected;
    const bool reference = ReferenceApply(input.first, input.first_size, diff, new_size, expected);
    std::vector<uint8_t> out(new_size, 0);
    const bool stepped = velm::ApplyControlTriples(
        input.first, input.first_size, out.data(), out.size(), diff.triples.data(),
        diff.triples.size(), diff.diff_block.data(), diff.diff_block.size(),
        diff.extra_block.data(), diff.extra_block.size());
    FUZZ_CHECK(stepped == reference);
    if (stepped) FUZZ_CHECK(out == expected);
    return 0;
}
