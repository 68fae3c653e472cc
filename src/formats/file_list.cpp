#include "formats/file_list.h"

#include "common/text.h"
#include "formats/entry_name.h"

#include <pugixml.hpp>

#include <set>


namespace velm {
namespace {

bool ParseDecimal(const wchar_t* text, int64_t max, int64_t& value) {
    if (!*text) return false;
    value = 0;
    for (const wchar_t* p = text; *p; ++p) {
        if (*p < L'0' || *p > L'9') return false;
        value = value * 10 + (*p - L'0');
        if (value > max) return false;
    }
    return true;
}

bool IsHashText(const std::wstring& text) {
    if (text.size() != 32) return false;
    for (wchar_t c : text) {
        bool hex = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
        if (!hex) return false;
    }
    return true;
}

std::wstring Wide(const pugi::xml_attribute& attribute) { return attribute.value(); }

bool LooksLikeUtf16(const std::string& xml) {
    if (xml.size() < 2) return false;
    const auto b0 = uint8_t(xml[0]), b1 = uint8_t(xml[1]);
    return (b0 == 0xFF && b1 == 0xFE) || (b0 == 0xFE && b1 == 0xFF) || (b0 == '<' && b1 == 0) ||
           (b0 == 0 && b1 == '<');
}

// Offset of the first byte that is not part of well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF), or npos.
size_t FirstInvalidUtf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = uint8_t(text[i]);
        size_t length = 0;
        uint32_t min = 0, code = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, min = 0x80, code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, min = 0x800, code = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, min = 0x10000, code = lead & 0x07;
        } else {
            return i;
        }
        if (text.size() - i < length) return i;
        for (size_t k = 1; k < length; ++k) {
            const auto next = uint8_t(text[i + k]);
            if ((next & 0xC0) != 0x80) return i;
            code = code << 6 | (next & 0x3F);
        }
        if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return i;
        i += length;
    }
    return std::string::npos;
}

bool IsUnicodeEncodingName(std::wstring name) {
    for (wchar_t& c : name)
        if (c >= L'a' && c <= L'z') c = wchar_t(c - L'a' + L'A');
    return name == L"UTF-8" || name == L"UTF8" || name == L"UTF-16" || name == L"UTF-16LE" || name == L"UTF-16BE";
}

// Windows compares names without regard to case; the fold covers the scripts client files
// are named in (Latin, Greek, Cyrillic; CJK has no case).
wchar_t FoldCase(wchar_t c) {
    if ((c >= L'A' && c <= L'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB) ||
        (c >= 0x410 && c <= 0x42F))
        return wchar_t(c + 0x20);
    if (c >= 0x400 && c <= 0x40F) return wchar_t(c + 0x50);
    // Latin Extended-A pairs upper and lower case in neighbours; in two runs the capital
    // comes first at an odd code.
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? wchar_t(c + 1) : c;
    if ((c >= 0x100 && c <= 0x137 && c != 0x130 && c != 0x131) || (c >= 0x14A && c <= 0x177)) return wchar_t(c | 1);
    return c;
}

std::wstring FoldName(const std::wstring& name) {
    std::wstring out = name;
    for (wchar_t& c : out) c = FoldCase(c);
    return out;
}

// Reads a required or optional decimal attribute; false (with error) when it is present
// but not a number in 0..max.
bool ReadNumber(const pugi::xml_node& node, const wchar_t* name, int64_t max, int64_t& value,
                std::string& error) {
    pugi::xml_attribute attribute = node.attribute(name);
    if (!attribute) return true;
    if (!ParseDecimal(attribute.value(), max, value)) {
        error = "attribute " + WideToUtf8(name) + " is not a number in range: \"" +
                WideToUtf8(attribute.value()) + "\"";
        return false;
    }
    return true;
}

// Reads an optional pair of a SHA-256 and a size attribute; false (with error) when one
// comes without the other or either is malformed.
bool ReadContentDigest(const pugi::xml_node& node, const wchar_t* sha256_name, const wchar_t* size_name,
                       ContentDigest& digest, std::string& error) {
    pugi::xml_attribute sha256 = node.attribute(sha256_name);
    pugi::xml_attribute size = node.attribute(size_name);
    if (!sha256 && !size) return true;
    if (!sha256 || !size) {
        error = "attribute " + WideToUtf8(sha256 ? sha256_name : size_name) + " without " +
                WideToUtf8(sha256 ? size_name : sha256_name);
        return false;
    }
    if (!ParseSha256Hex(sha256.value(), digest.sha256)) {
        error = "attribute " + WideToUtf8(sha256_name) + " is not 64 hexadecimal digits";
        return false;
    }
    int64_t value = 0;
    if (!ReadNumber(node, size_name, int64_t(kMaxListedObjectBytes), value, error)) return false;
    digest.size = uint64_t(value);
    digest.present = true;
    return true;
}

// The content digests of one version: of the file and of the diff that makes it.
bool ReadVersionDigests(const pugi::xml_node& node, ContentDigest& content, ContentDigest& diff,
                        std::string& error) {
    return ReadContentDigest(node, L"sha256", L"file_size", content, error) &&
           ReadContentDigest(node, L"diff_sha256", L"diff_file_size", diff, error);
}

void WriteContentDigest(pugi::xml_node& node, const wchar_t* sha256_name, const wchar_t* size_name,
                        const ContentDigest& digest) {
    if (!digest.present) return;
    node.append_attribute(sha256_name) = Sha256ToHex(digest.sha256).c_str();
    node.append_attribute(size_name) = std::to_wstring(digest.size).c_str();
}

void WriteVersionDigests(pugi::xml_node& node, const ContentDigest& content, const ContentDigest& diff) {
    WriteContentDigest(node, L"sha256", L"file_size", content);
    WriteContentDigest(node, L"diff_sha256", L"diff_file_size", diff);
}

bool ReadHistory(const pugi::xml_node& node, FileEntry& entry, std::string& error) {
    for (pugi::xml_node child : node.children(L"histroy")) {
        pugi::xml_attribute hash = child.attribute(L"hash");
        pugi::xml_attribute diff_size = child.attribute(L"diff_size");
        if (!hash || !diff_size) break;
        int64_t size = 0;
        if (!ReadNumber(child, L"diff_size", INT32_MAX, size, error)) return false;
        HistoryVersion version{Wide(hash), int32_t(size), {}, {}};
        if (!IsHashText(version.hash)) {
            error = "history hash is not 32 hexadecimal digits";
            return false;
        }
        if (!ReadVersionDigests(child, version.content, version.diff, error)) return false;
        if (entry.history.size() >= kMaxHistory) {
            error = "history too long";
            return false;
        }
        entry.history.push_back(version);
    }
    return true;
}

bool ReadEntry(const pugi::xml_node& node, const std::wstring& base, FileEntry& entry,
               std::string& error) {
    int64_t diff_size = 0, size_compressed = 0, flags = 0;
    if (!ReadNumber(node, L"diff_size", INT32_MAX, diff_size, error)) return false;
    entry.name = Wide(node.attribute(L"name"));
    entry.hash = Wide(node.attribute(L"hash"));
    if (!node.attribute(L"size_compressed")) {
        error = "entry without size_compressed";
        return false;
    }
    if (!ReadNumber(node, L"size_compressed", INT32_MAX, size_compressed, error) ||
        !ReadNumber(node, L"flags", UINT32_MAX, flags, error))
        return false;
    if (!IsSafeEntryName(entry.name)) {
        error = "unsafe or invalid entry name \"" + WideToUtf8(entry.name) + "\"";
        return false;
    }
    if (!entry.hash.empty() && !IsHashText(entry.hash)) {
        error = "entry hash is not 32 hexadecimal digits: " + WideToUtf8(entry.name);
        return false;
    }
    entry.full_path = base + entry.name;
    entry.size_compressed = int32_t(size_compressed);
    entry.flags = uint32_t(flags);
    entry.diff_size = int32_t(diff_size);
    if (!ReadVersionDigests(node, entry.content, entry.diff, error)) {
        error += ": " + WideToUtf8(entry.name);
        return false;
    }
    entry.history.push_back({entry.hash, entry.diff_size, entry.content, entry.diff});
    if (!ReadHistory(node, entry, error)) {
        error += ": " + WideToUtf8(entry.name);
        return false;
    }
    return true;
}

void ReadScript(const pugi::xml_node& script, FileListDocument& document) {
    document.has_script = true;
    for (pugi::xml_node child : script.children()) {
        if (child.type() != pugi::node_element) continue;
        pugi::xml_attribute name = child.attribute(L"name");
        if (!name) continue;
        ScriptCommand command{Wide(name), {}};
        for (size_t i = 0; i < kMaxScriptArgs; ++i) {
            std::wstring key = L"p" + std::to_wstring(i);
            pugi::xml_attribute arg = child.attribute(key.c_str());
            if (!arg) break;
            command.args.push_back(Wide(arg));
        }
        document.script.push_back(command);
    }
}

}  // namespace

size_t FullDownloadRootIndex(const FileEntry& entry) {
    for (size_t i = 0; i < entry.history.size(); ++i) {
        if (entry.history[i].diff_size > 0) return i;
    }
    return entry.history.empty() ? 0 : entry.history.size() - 1;
}

int ParseFileList(const std::string& xml, const std::wstring& base_directory,
                  FileListDocument& document, std::string& error,
                  std::vector<RejectedEntry>* rejected) {
    document = FileListDocument();
    if (rejected) rejected->clear();
    if (xml.size() > kMaxFileListBytes) {
        error = "file list too large";
        return 0;
    }
    // The parser would read a legacy encoding as UTF-8 and drop the bytes it cannot
    // decode, so that names lose letters and collide; such a list is refused whole.
    const bool utf16 = LooksLikeUtf16(xml);
    if (!utf16) {
        const size_t invalid = FirstInvalidUtf8(xml);
        if (invalid != std::string::npos) {
            error = "file list is not valid UTF-8 (byte " + std::to_string(invalid) +
                    "); publish it in UTF-8 or UTF-16";
            return 0;
        }
    }
    pugi::xml_document doc;
    pugi::xml_parse_result parsed = doc.load_buffer(xml.data(), xml.size(),
                                                    pugi::parse_default | pugi::parse_declaration,
                                                    utf16 ? pugi::encoding_auto : pugi::encoding_utf8);
    if (!parsed) {
        error = "XML error at offset " + std::to_string(parsed.offset) + ": " +
                parsed.description();
        return 0;
    }
    for (pugi::xml_node node = doc.first_child(); node; node = node.next_sibling()) {
        if (node.type() != pugi::node_declaration) continue;
        pugi::xml_attribute encoding = node.attribute(L"encoding");
        if (encoding && !IsUnicodeEncodingName(encoding.value())) {
            error = "file list declares the encoding \"" + WideToUtf8(encoding.value()) +
                    "\"; only UTF-8 and UTF-16 are read";
            return 0;
        }
    }
    pugi::xml_node root = doc.child(L"Root");
    pugi::xml_node store = root.child(L"Store");
    pugi::xml_node roots = root.child(L"UrlRootList");
    pugi::xml_node files = root.child(L"FileList");
    if (!root || !store || !roots || !files) {
        error = "Root, Store, UrlRootList or FileList missing";
        return 0;
    }
    document.store_url_root = Wide(store.attribute(L"URLRoot"));
    for (pugi::xml_node child : roots.children()) {
        pugi::xml_attribute url = child.attribute(L"urlroot");
        if (child.type() != pugi::node_element || !url) continue;
        if (document.url_roots.size() >= kMaxUrlRoots) {
            error = "too many URL roots";
            return 0;
        }
        document.url_roots.push_back(Wide(url));
    }
    // Two names that Windows takes for one file would be written over each other.
    std::set<std::wstring> folded_names;
    auto reject = [&](const std::wstring& name, EntryRejection why) {
        rejected->push_back({name.substr(0, kMaxNameChars), why});
    };
    for (pugi::xml_node child : files.children()) {
        if (child.type() != pugi::node_element) continue;
        if (document.entries.size() + (rejected ? rejected->size() : 0) >= kMaxFileEntries) {
            error = "too many file entries";
            return 0;
        }
        std::wstring name = Wide(child.attribute(L"name"));
        if (rejected && !IsSafeEntryName(name)) {
            reject(name, EntryRejection::kUnsafeName);
            continue;
        }
        FileEntry entry;
        if (!ReadEntry(child, base_directory, entry, error)) return 0;
        if (!folded_names.insert(FoldName(entry.name)).second) {
            if (!rejected) {
                error = "entry name differs from another only in letter case: " + WideToUtf8(entry.name);
                return 0;
            }
            reject(entry.name, EntryRejection::kCaseCollision);
            continue;
        }
        // Every version of the history may be fetched from its own root.
        if (entry.history.size() > document.url_roots.size()) {
            if (!rejected) {
                error = "entry needs more URL roots than the list carries: " + WideToUtf8(entry.name);
                return 0;
            }
            reject(entry.name, EntryRejection::kMissingUrlRoot);
            continue;
        }
        document.entries.push_back(std::move(entry));
    }
    pugi::xml_node launcher = root.child(L"LauncherCompressed");
    if (launcher) {
        int64_t size = 0;
        if (!ReadNumber(launcher, L"size_compressed", INT32_MAX, size, error)) return 0;
        ContentDigest content;
        if (!ReadContentDigest(launcher, L"sha256", L"file_size", content, error)) return 0;
        document.has_launcher = true;
        document.launcher = {Wide(launcher.attribute(L"URL")), Wide(launcher.attribute(L"hash")),
                             int32_t(size), content};
    }
    if (pugi::xml_node script = root.child(L"Script")) ReadScript(script, document);
    return 1;
}

std::wstring FindUnvouchedObject(const FileListDocument& document) {
    for (const FileEntry& entry : document.entries) {
        if (entry.hash.empty()) return entry.name + L" : the file list gives no MD5";
        if (!entry.content.present) return entry.name + L" : the file list gives no SHA-256 and size";
        for (size_t k = 0; k < entry.history.size(); ++k) {
            const HistoryVersion& version = entry.history[k];
            if (version.diff_size > 0 && (!version.content.present || !version.diff.present))
                return entry.name + L" : the file list gives no SHA-256 and size for the diff to " +
                       (k == 0 ? std::wstring(L"the current version")
                               : FormatText(L"the version %d releases old", int(k)));
        }
    }
    if (document.has_launcher && !document.launcher.content.present)
        return L"LauncherCompressed : the file list gives no SHA-256 and size";
    return L"";
}

std::wstring ReplaceUrlRoot(const std::wstring& value, const std::wstring& search,
                            const std::wstring& replacement) {
    if (search.empty()) return value;
    std::wstring out = value;
    for (size_t at = out.find(search); at != std::wstring::npos;
         at = out.find(search, at + replacement.size())) {
        out.replace(at, search.size(), replacement);
    }
    return out;
}

std::string WriteFileList(const FileListDocument& document) {
    pugi::xml_document doc;
    pugi::xml_node declaration = doc.append_child(pugi::node_declaration);
    declaration.append_attribute(L"version") = L"1.0";
    declaration.append_attribute(L"encoding") = L"utf-8";
    pugi::xml_node root = doc.append_child(L"Root");
    root.append_child(L"Store").append_attribute(L"URLRoot") =
        document.store_url_root.c_str();
    pugi::xml_node roots = root.append_child(L"UrlRootList");
    for (const std::wstring& url : document.url_roots)
        roots.append_child(L"UrlRoot").append_attribute(L"urlroot") = url.c_str();
    pugi::xml_node files = root.append_child(L"FileList");
    for (const FileEntry& entry : document.entries) {
        pugi::xml_node node = files.append_child(L"File");
        node.append_attribute(L"name") = entry.name.c_str();
        node.append_attribute(L"hash") = entry.hash.c_str();
        node.append_attribute(L"size_compressed") = std::to_wstring(entry.size_compressed).c_str();
        node.append_attribute(L"flags") = std::to_wstring(entry.flags).c_str();
        node.append_attribute(L"diff_size") = std::to_wstring(entry.diff_size).c_str();
        WriteVersionDigests(node, entry.content, entry.diff);
        for (size_t i = 1; i < entry.history.size(); ++i) {
            pugi::xml_node version = node.append_child(L"histroy");
            version.append_attribute(L"hash") = entry.history[i].hash.c_str();
            version.append_attribute(L"diff_size") =
                std::to_wstring(entry.history[i].diff_size).c_str();
            WriteVersionDigests(version, entry.history[i].content, entry.history[i].diff);
        }
    }
    if (document.has_launcher) {
        pugi::xml_node launcher = root.append_child(L"LauncherCompressed");
        launcher.append_attribute(L"URL") = document.launcher.url.c_str();
        launcher.append_attribute(L"hash") = document.launcher.hash.c_str();
        launcher.append_attribute(L"size_compressed") =
            std::to_wstring(document.launcher.size_compressed).c_str();
        WriteContentDigest(launcher, L"sha256", L"file_size", document.launcher.content);
    }
    if (document.has_script) {
        pugi::xml_node script = root.append_child(L"Script");
        for (const ScriptCommand& command : document.script) {
            pugi::xml_node node = script.append_child(L"Command");
            node.append_attribute(L"name") = command.name.c_str();
            for (size_t i = 0; i < command.args.size(); ++i) {
                std::wstring key = L"p" + std::to_wstring(i);
                node.append_attribute(key.c_str()) = command.args[i].c_str();
            }
        }
    }
    struct Collect : pugi::xml_writer {
        std::string text;
        void write(const void* data, size_t size) override {
            text.append(static_cast<const char*>(data), size);
        }
    } out;
    doc.save(out, L"\t", pugi::format_indent, pugi::encoding_utf8);
    return out.text;
}

std::string FileListHashCompanion(const std::string& xml) {
    return WideToUtf16Le(Md5ToHex(Md5Bytes(xml.data(), xml.size())));
}

}  // namespace velm
