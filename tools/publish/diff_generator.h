#pragma once
// Makes the diff that turns one version of a file into the next: a seed index of the old
// file and bsdiff-style approximate matching, so that the diff block is mostly zero bytes
// and compresses well in the ".cmp" container.
#include "common/lzma_encoder.h"
#include "formats/diff_file.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace velm::publish {

// Largest file the 32-bit diff format can describe.
constexpr size_t kMaxDiffFileSize = 0x7FFFFFFF;

// Fills diff (header digests included). Memory beside the inputs: the seed index while
// matching (two to four bytes per old byte, 64 MiB at most), then the diff block (at
// most the new size).
bool MakeDiff(const uint8_t* old_data, size_t old_size, const uint8_t* new_data,
              size_t new_size, DiffFile& diff, std::string& error);

// LZMA settings for a diff's ".cmp" container: the diff block is mostly long runs of
// zero bytes, which the longest match length codes far more cheaply, and the blocks are
// not aligned to anything, so position bits only dilute the statistics (measured on
// library and game-data pairs: about 11 % smaller than the full-file settings), and the
// window stays small because matches in a diff are local.
LzmaEncoderSettings DiffContainerSettings();

}  // namespace velm::publish
