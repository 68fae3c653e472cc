#include "common/size_time_text.h"

#include "common/text.h"

namespace velm {

std::wstring SizeText(int64_t bytes) {
    if (bytes < 1048576) return FormatText(L"%.2fKB", double(bytes) / 1024.0);
    if (bytes < 1073741824) return FormatText(L"%.2fMB", double(bytes) / 1048576.0);
    return FormatText(L"%.2fGB", double(bytes) / 1073741824.0);
}

std::wstring TimeText(int64_t seconds) {
    // Splitting a negative count field by field would give "-1:-2:-5"; the magnitude is
    // taken in unsigned arithmetic so that even the smallest 64-bit value has one.
    bool negative = seconds < 0;
    uint64_t s = negative ? 0 - uint64_t(seconds) : uint64_t(seconds);
    return FormatText(L"%ls%02llu:%02llu:%02llu", negative ? L"-" : L"",
                      static_cast<unsigned long long>(s / 3600),
                      static_cast<unsigned long long>((s % 3600) / 60),
                      static_cast<unsigned long long>(s % 60));
}

}  // namespace velm
