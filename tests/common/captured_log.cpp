#include "common/captured_log.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "common/file_io.h"
#include "common/log.h"
#include "common/text.h"

namespace velm::test {

CapturedLog::CapturedLog(std::wstring path) : path_(std::move(path)) {
    LauncherLog::Instance().ReopenForTest(path_);
}

std::wstring CapturedLog::Text() const {
    std::vector<uint8_t> bytes;
    ReadWholeFile(path_, bytes, uint64_t(64) << 20);
    size_t skip = bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE ? 2 : 0;
    return Utf16LeToWide(bytes.data() + skip, bytes.size() - skip);
}

int CapturedLog::Count(const std::wstring& needle) const {
    std::wstring text = Text();
    int count = 0;
    for (size_t at = text.find(needle); at != std::wstring::npos; at = text.find(needle, at + 1)) ++count;
    return count;
}

}  // namespace velm::test
