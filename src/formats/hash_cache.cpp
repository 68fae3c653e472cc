#include "formats/hash_cache.h"

#include <pugixml.hpp>

#include <cstdlib>
#include <vector>

#include "common/file_io.h"
#include "common/file_system.h"
#include "common/log.h"
#include "common/md5.h"
#include "common/text.h"

namespace velm {
namespace {

constexpr const wchar_t* kVersion = L"100";

bool IsHexDigest(const std::wstring& text) {
    if (text.size() != 32) return false;
    for (wchar_t c : text)
        if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'))) return false;
    return true;
}

// An unsigned 32-bit decimal attribute; anything else reads as 0, as a missing one does.
uint32_t ReadHalf(const pugi::xml_node& node, const wchar_t* name) {
    const wchar_t* text = node.attribute(name).value();
    wchar_t* end = nullptr;
    unsigned long long value = std::wcstoull(text, &end, 10);
    if (end == text || *end != 0 || value > 0xFFFFFFFFull) return 0;
    return uint32_t(value);
}

bool HashPath(const std::wstring& path, std::wstring& hash, const std::atomic<bool>* cancelled) {
    Md5Digest digest;
    if (!Md5File(path, digest, cancelled)) return false;
    hash = Md5ToHex(digest);
    return true;
}

}  // namespace

std::wstring HashCache::KeyOf(const std::wstring& name) { return AsciiLower(name); }

int HashCache::LoadLocalHashCache(const std::wstring& path) {
    std::lock_guard<std::mutex> guard(lock_);
    entries_.clear();
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes, kMaxFileBytes)) return 0;
    pugi::xml_document document;
    if (!document.load_buffer(bytes.data(), bytes.size(), pugi::parse_default, pugi::encoding_auto)) return 0;
    pugi::xml_node root = document.child(L"Root");
    if (!root || std::wstring(root.attribute(L"version").value()) != kVersion) return 0;
    pugi::xml_node list = root.child(L"FileList");
    if (!list) return 0;
    for (pugi::xml_node file = list.first_child(); file; file = file.next_sibling()) {
        if (file.type() != pugi::node_element) continue;
        HashCacheEntry entry;
        entry.name = file.attribute(L"name").value();
        entry.hash = AsciiUpper(file.attribute(L"hash").value());
        // An entry that could never match a file is dropped: the file is hashed again.
        if (entry.name.empty() || entry.name.size() > kMaxKeyChars || !IsHexDigest(entry.hash)) continue;
        entry.time = uint64_t(ReadHalf(file, L"datetime_hi")) << 32 | ReadHalf(file, L"datetime_low");
        entries_[KeyOf(entry.name)] = std::move(entry);
    }
    return 1;
}

int HashCache::SaveLocalHashCache(const std::wstring& path) {
    LauncherLog& log = LauncherLog::Instance();
    log.Write(L"SaveLocalHashCache\n");
    pugi::xml_document document;
    pugi::xml_node declaration = document.append_child(pugi::node_pi);
    declaration.set_name(L"xml");
    declaration.set_value(L"version='1.0' encoding='utf-16'");
    pugi::xml_node root = document.append_child(L"Root");
    root.append_attribute(L"version") = kVersion;
    pugi::xml_node list = root.append_child(L"FileList");
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (const auto& [key, entry] : entries_) {
            pugi::xml_node file = list.append_child(L"file");
            file.append_attribute(L"name") = entry.name.c_str();
            file.append_attribute(L"hash") = entry.hash.c_str();
            file.append_attribute(L"datetime_low") = unsigned(entry.time & 0xFFFFFFFFu);
            file.append_attribute(L"datetime_hi") = unsigned(entry.time >> 32);
        }
    }
    std::wstring temporary = path + L".tmp";
    bool saved = false;
    {
        FileHandle file = OpenFile(temporary, FileMode::kWrite);
        if (file) {
            struct Writer : pugi::xml_writer {
                std::FILE* out;
                bool ok = true;
                void write(const void* data, size_t size) override {
                    ok = ok && std::fwrite(data, 1, size, out) == size;
                }
            } writer;
            writer.out = file.get();
            document.save(writer, L"\t", pugi::format_default | pugi::format_no_declaration | pugi::format_write_bom,
                          pugi::encoding_utf16_le);
            saved = writer.ok && std::fclose(file.release()) == 0;
        }
    }
    if (!saved || !CommitStagedFile(temporary, path)) {
        RemoveFile(temporary);
        log.Write(L"SaveLocalHashCache failed\n");
    }
    log.Write(L"SaveLocalHashCache Completed\n");
    return 1;
}

CacheLookup HashCache::Lookup(const std::wstring& name) const {
    CacheLookup lookup;
    // A file whose time cannot be read (a missing one above all) is never vouched for: an
    // entry stored without a time holds 0 too and would match it.
    const bool have_time = FileWriteTime(base_ + name, lookup.file_time);
    if (!have_time) lookup.file_time = 0;
    const std::wstring key = KeyOf(name);
    std::lock_guard<std::mutex> guard(lock_);
    auto found = entries_.find(key);
    if (found == entries_.end()) return lookup;
    if (have_time && found->second.time == lookup.file_time) {
        lookup.verdict = CacheLookup::Verdict::kCurrent;
        lookup.hash = found->second.hash;
    } else {
        lookup.verdict = CacheLookup::Verdict::kChanged;
        lookup.stored_time = found->second.time;
    }
    return lookup;
}

void HashCache::LogRecompute(const std::wstring& name, const CacheLookup& lookup) const {
    LauncherLog& log = LauncherLog::Instance();
    const std::wstring full_path = base_ + name;
    if (lookup.verdict == CacheLookup::Verdict::kChanged) {
        log.Write(L"timestamp different recalc md5. \n");
        log.Write(L"%ls local timestamp = %u %u\n", full_path.c_str(), unsigned(lookup.file_time >> 32),
                  unsigned(lookup.file_time & 0xFFFFFFFFu));
        log.Write(L"%ls xml   timestamp = %u %u\n", full_path.c_str(), unsigned(lookup.stored_time >> 32),
                  unsigned(lookup.stored_time & 0xFFFFFFFFu));
    } else if (lookup.verdict == CacheLookup::Verdict::kNotCached) {
        log.Write(L"%ls file not found in hash cache recalc md5. \n", full_path.c_str());
    }
}

bool HashCache::HashFile(const std::wstring& name, std::wstring& hash) const {
    return HashPath(base_ + name, hash, cancelled_);
}

int HashCache::GetLocalFileHash(const std::wstring& name, std::wstring& hash, bool& recompute) {
    if (!recompute) {
        CacheLookup lookup = Lookup(name);
        if (lookup.verdict == CacheLookup::Verdict::kCurrent) {
            hash = std::move(lookup.hash);
            return 1;
        }
        LogRecompute(name, lookup);
        recompute = true;
    }
    return HashFile(name, hash) ? 1 : 0;
}

int HashCache::UpdateHashCacheEntry(const std::wstring& full_path, const std::wstring& hash) {
    HashCacheEntry entry;
    entry.hash = hash;
    if (entry.hash.empty() && !HashPath(full_path, entry.hash, cancelled_)) return 0;
    if (!FileWriteTime(full_path, entry.time)) return 0;
    size_t at = base_.empty() ? std::wstring::npos : full_path.find(base_);
    entry.name = at == std::wstring::npos ? full_path : full_path.substr(at + base_.size());
    std::wstring key = KeyOf(entry.name);
    if (key.size() > kMaxKeyChars) return 0;
    std::lock_guard<std::mutex> guard(lock_);
    entries_[key] = std::move(entry);
    return 1;
}

size_t HashCache::Size() const {
    std::lock_guard<std::mutex> guard(lock_);
    return entries_.size();
}

bool HashCache::Find(const std::wstring& name, HashCacheEntry& entry) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto found = entries_.find(KeyOf(name));
    if (found == entries_.end()) return false;
    entry = found->second;
    return true;
}

}  // namespace velm
