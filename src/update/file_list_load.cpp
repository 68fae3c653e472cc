#include "update/file_list_load.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "common/file_io.h"
#include "common/text.h"

namespace velm {
namespace {

// The 1-based line of a byte offset that the XML parser names in its reason, or 0 when
// the reason is not an XML syntax error.
int XmlErrorLine(const std::string& reason, const std::string& xml) {
    const std::string prefix = "XML error at offset ";
    if (reason.compare(0, prefix.size(), prefix) != 0) return 0;
    const size_t offset = std::min<size_t>(std::strtoull(reason.c_str() + prefix.size(), nullptr, 10), xml.size());
    return 1 + int(std::count(xml.begin(), xml.begin() + long(offset), '\n'));
}

std::wstring LoadFailedLine(const std::wstring& path, int line) {
    return FormatText(L"%ls load failed\n line: %d", path.c_str(), line);
}

}  // namespace

bool ReadFileListBytes(const std::wstring& path, std::string& bytes) {
    return ReadWholeFile(path, bytes, kMaxFileListBytes);
}

int LoadFileList(const std::wstring& path, const std::string* bytes, const std::wstring& base,
                 LoadedFileList& list, FileListLoadError& error) {
    list = LoadedFileList();
    error = FileListLoadError();
    if (!bytes) {
        error.error_line = LoadFailedLine(path, 0);
        return 0;
    }
    const std::string& xml = *bytes;
    std::string reason;
    if (ParseFileList(xml, base, list.document, reason, &list.rejected)) return 1;
    error.reason = Utf8ToWide(reason);
    const int line = XmlErrorLine(reason, xml);
    if (line > 0) error.error_line = LoadFailedLine(path, line);
    return 0;
}

}  // namespace velm
