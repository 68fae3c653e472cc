// The published file list and its ".hash" companion: whatever the reader accepts must be
// safe to act on (names that stay inside the folder, every URL root index it implies
// present), the publisher's writer must give back the same records, and a companion
// matches exactly the 32 digits of the list's MD5 in any letter case. A list in UTF-8 is
// read the same whichever way it is taken apart: through the quick index where it is
// plain, through the general XML parser over the same bytes, and as the same list in
// UTF-16, which only the general parser reads.
#include "fuzz_support.h"

#include "common/text.h"
#include "formats/file_list.h"

namespace {

using velm::FileListDocument;

const std::wstring kBase = L"C:\\Game";

bool IsHexOrEmpty(const std::wstring& text) {
    if (text.empty()) return true;
    if (text.size() != 32) return false;
    for (wchar_t c : text) {
        bool hex = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
        if (!hex) return false;
    }
    return true;
}

void CheckAccepted(const FileListDocument& document) {
    FUZZ_CHECK(document.url_roots.size() <= velm::kMaxUrlRoots);
    FUZZ_CHECK(document.entries.size() <= velm::kMaxFileEntries);
    for (const velm::FileEntry& entry : document.entries) {
        FUZZ_CHECK(velm::IsSafeEntryName(entry.name));
        FUZZ_CHECK(entry.full_path == kBase + entry.name);
        FUZZ_CHECK(entry.size_compressed >= 0 && entry.diff_size >= 0);
        FUZZ_CHECK(!entry.history.empty() && entry.history.size() <= velm::kMaxHistory + 1);
        FUZZ_CHECK(entry.history[0].hash == entry.hash && entry.history[0].diff_size == entry.diff_size);
        FUZZ_CHECK(entry.history.size() <= document.url_roots.size());
        FUZZ_CHECK(velm::FullDownloadRootIndex(entry) < document.url_roots.size());
        for (const velm::HistoryVersion& version : entry.history) {
            FUZZ_CHECK(IsHexOrEmpty(version.hash));
            FUZZ_CHECK(version.diff_size >= 0);
        }
    }
    for (const velm::ScriptCommand& command : document.script)
        FUZZ_CHECK(command.args.size() <= velm::kMaxScriptArgs);
}

bool SameDocument(const FileListDocument& a, const FileListDocument& b) {
    if (a.store_url_root != b.store_url_root || a.url_roots != b.url_roots ||
        a.entries.size() != b.entries.size() || a.has_launcher != b.has_launcher ||
        a.has_script != b.has_script || a.script.size() != b.script.size())
        return false;
    for (size_t i = 0; i < a.entries.size(); ++i) {
        const velm::FileEntry& x = a.entries[i];
        const velm::FileEntry& y = b.entries[i];
        if (x.name != y.name || x.full_path != y.full_path || x.hash != y.hash ||
            x.size_compressed != y.size_compressed || x.flags != y.flags ||
            x.diff_size != y.diff_size || x.content != y.content || x.diff != y.diff ||
            x.history.size() != y.history.size())
            return false;
        for (size_t k = 0; k < x.history.size(); ++k) {
            if (x.history[k].hash != y.history[k].hash ||
                x.history[k].diff_size != y.history[k].diff_size ||
                x.history[k].content != y.history[k].content || x.history[k].diff != y.history[k].diff)
                return false;
        }
    }
    if (a.has_launcher &&
        (a.launcher.url != b.launcher.url || a.launcher.hash != b.launcher.hash ||
         a.launcher.size_compressed != b.launcher.size_compressed || a.launcher.content != b.launcher.content))
        return false;
    for (size_t i = 0; i < a.script.size(); ++i) {
        if (a.script[i].name != b.script[i].name || a.script[i].args != b.script[i].args) return false;
    }
    return true;
}

// The UTF-8 text as UTF-16LE with its byte-order mark (in place of a UTF-8 one).
std::string AsUtf16(std::string utf8) {
    if (utf8.compare(0, 3, "\xEF\xBB\xBF") == 0) utf8.erase(0, 3);
    return "\xFF\xFE" + velm::WideToUtf16Le(velm::Utf8ToWide(utf8));
}

bool LooksLikeUtf16(const std::string& xml) {
    if (xml.size() < 2) return false;
    const auto b0 = uint8_t(xml[0]), b1 = uint8_t(xml[1]);
    return (b0 == 0xFF && b1 == 0xFE) || (b0 == 0xFE && b1 == 0xFF) || b0 == 0 || b1 == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string xml(reinterpret_cast<const char*>(data), size);
    // The companion as the launcher compares it: the published text, read as UTF-16LE,
    // against the MD5 of the list it holds; and the input itself read as a companion.
    const std::string companion = velm::FileListHashCompanion(xml);
    const std::wstring local = velm::Md5ToHex(velm::Md5Bytes(xml.data(), xml.size()));
    FUZZ_CHECK(companion.size() == 64);
    FUZZ_CHECK(velm::HashTextEquals(
        velm::Utf16LeToWide(reinterpret_cast<const uint8_t*>(companion.data()), companion.size()), local));
    const std::wstring remote = velm::Utf16LeToWide(data, size);
    FUZZ_CHECK(velm::HashTextEquals(remote, local) == velm::EqualsIgnoreAsciiCase(remote, local));

    FileListDocument document;
    std::string error;
    const int result = velm::ParseFileList(xml, kBase, document, error);
    // The quick reading equals the general parser's over the same bytes, left-out entries
    // and error text included, in both the publisher's and the launcher's way of reading.
    {
        FileListDocument general;
        std::string general_error;
        FUZZ_CHECK(velm::ParseFileList(xml, kBase, general, general_error, nullptr,
                                       velm::FileListXmlReading::kGeneralParserOnly) == result);
        FUZZ_CHECK(general_error == error && (result == 0 || SameDocument(document, general)));
        FileListDocument quick_kept, general_kept;
        std::string quick_kept_error, general_kept_error;
        std::vector<velm::RejectedEntry> quick_left_out, general_left_out;
        const int quick_kept_result = velm::ParseFileList(xml, kBase, quick_kept, quick_kept_error, &quick_left_out);
        FUZZ_CHECK(velm::ParseFileList(xml, kBase, general_kept, general_kept_error, &general_left_out,
                                       velm::FileListXmlReading::kGeneralParserOnly) == quick_kept_result);
        FUZZ_CHECK(quick_kept_error == general_kept_error);
        FUZZ_CHECK(quick_kept_result == 0 || SameDocument(quick_kept, general_kept));
        FUZZ_CHECK(quick_left_out.size() == general_left_out.size());
        for (size_t i = 0; i < quick_left_out.size(); ++i)
            FUZZ_CHECK(quick_left_out[i].name == general_left_out[i].name &&
                       quick_left_out[i].why == general_left_out[i].why);
    }
    if (!LooksLikeUtf16(xml) && error.find("not valid UTF-8") == std::string::npos) {
        FileListDocument wide_document;
        std::string wide_error;
        const int wide_result = velm::ParseFileList(AsUtf16(xml), kBase, wide_document, wide_error);
        FUZZ_CHECK(result == wide_result);
        FUZZ_CHECK(result == 0 || SameDocument(document, wide_document));
        FUZZ_CHECK(result == 1 || error.compare(0, 9, "XML error") == 0 || error == wide_error);
    }
    if (result != 1) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    CheckAccepted(document);

    const std::string written = velm::WriteFileList(document);
    FileListDocument again;
    FUZZ_CHECK(velm::ParseFileList(written, kBase, again, error) == 1);
    FUZZ_CHECK(SameDocument(document, again));

    return 0;
}
