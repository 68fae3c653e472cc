#include "formats/hash_cache.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <vector>

#include "common/file_io.h"
#include "common/file_system.h"
#include "common/log.h"
#include "common/md5.h"
#include "common/text.h"
#include "formats/hash_cache_scan.h"

namespace velm {
namespace {

constexpr const wchar_t* kVersion = L"100";

// An unsigned 32-bit decimal attribute; anything else reads as 0, as a missing one does.
uint32_t ReadHalf(const wchar_t* text) {
    wchar_t* end = nullptr;
    unsigned long long value = std::wcstoull(text, &end, 10);
    if (end == text || *end != 0 || value > 0xFFFFFFFFull) return 0;
    return uint32_t(value);
}

wchar_t FoldAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? wchar_t(c + 32) : c; }

}  // namespace

size_t HashCache::KeyHash::operator()(const std::wstring& name) const {
    // FNV-1a over the folded characters.
    uint64_t hash = 0xcbf29ce484222325ull;
    for (wchar_t c : name) hash = (hash ^ uint64_t(uint32_t(FoldAscii(c)))) * 0x100000001b3ull;
    return size_t(hash);
}

bool HashCache::KeyEqual::operator()(const std::wstring& a, const std::wstring& b) const {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

bool HashCache::KeyLess(const std::wstring& a, const std::wstring& b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const wchar_t x = FoldAscii(a[i]), y = FoldAscii(b[i]);
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

void HashCache::Store(std::wstring name, uint64_t time, const Md5Digest& digest) {
    auto found = entries_.find(name);
    if (found == entries_.end()) {
        entries_.emplace(std::move(name), Stored{time, digest});
        return;
    }
    if (found->first != name) {
        auto node = entries_.extract(found);
        node.key() = std::move(name);
        found = entries_.insert(std::move(node)).position;
    }
    found->second = Stored{time, digest};
}

void HashCache::StoreLoaded(const wchar_t* name, const wchar_t* hash, const wchar_t* low, const wchar_t* high) {
    Md5Digest digest;
    const size_t length = std::wcslen(name);
    if (length == 0 || length > kMaxKeyChars || !Md5FromHex(hash, digest)) return;
    Store(name, uint64_t(ReadHalf(high)) << 32 | ReadHalf(low), digest);
}

int HashCache::LoadLocalHashCache(const std::wstring& path) {
    std::lock_guard<std::mutex> guard(lock_);
    entries_.clear();
    const CacheScanResult scanned = ScanHashCacheFile(path, kMaxFileBytes, [this](const ScannedCacheEntry& entry) {
        StoreLoaded(entry.name.c_str(), entry.hash.c_str(), entry.datetime_low.c_str(), entry.datetime_hi.c_str());
    });
    if (scanned == CacheScanResult::kRead) return 1;
    entries_.clear();
    return scanned == CacheScanResult::kNotPlain && LoadDocument(path) ? 1 : 0;
}

// The general reader, for a cache file the quick one leaves to it.
bool HashCache::LoadDocument(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes, kMaxFileBytes)) return false;
    pugi::xml_document document;
    if (!document.load_buffer(bytes.data(), bytes.size(), pugi::parse_default, pugi::encoding_auto)) return false;
    pugi::xml_node root = document.child(L"Root");
    if (!root || std::wstring(root.attribute(L"version").value()) != kVersion) return false;
    pugi::xml_node list = root.child(L"FileList");
    if (!list) return false;
    for (pugi::xml_node file = list.first_child(); file; file = file.next_sibling()) {
        if (file.type() != pugi::node_element) continue;
        StoreLoaded(file.attribute(L"name").value(), file.attribute(L"hash").value(),
                    file.attribute(L"datetime_low").value(), file.attribute(L"datetime_hi").value());
    }
    return true;
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
        std::vector<const std::pair<const std::wstring, Stored>*> ordered;
        ordered.reserve(entries_.size());
        for (const auto& entry : entries_) ordered.push_back(&entry);
        std::sort(ordered.begin(), ordered.end(), [](const auto* a, const auto* b) { return KeyLess(a->first, b->first); });
        for (const auto* entry : ordered) {
            pugi::xml_node file = list.append_child(L"file");
            file.append_attribute(L"name") = entry->first.c_str();
            file.append_attribute(L"hash") = Md5ToHex(entry->second.digest).c_str();
            file.append_attribute(L"datetime_low") = unsigned(entry->second.time & 0xFFFFFFFFu);
            file.append_attribute(L"datetime_hi") = unsigned(entry->second.time >> 32);
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
    std::lock_guard<std::mutex> guard(lock_);
    auto found = entries_.find(name);
    if (found == entries_.end()) return lookup;
    if (have_time && found->second.time == lookup.file_time) {
        lookup.verdict = CacheLookup::Verdict::kCurrent;
        lookup.digest = found->second.digest;
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

bool HashCache::HashFile(const std::wstring& name, Md5Digest& digest, std::vector<uint8_t>& buffer) const {
    return Md5File(base_ + name, digest, cancelled_, buffer);
}

int HashCache::GetLocalFileHash(const std::wstring& name, std::wstring& hash, bool& recompute) {
    Md5Digest digest;
    if (!recompute) {
        const CacheLookup lookup = Lookup(name);
        if (lookup.verdict == CacheLookup::Verdict::kCurrent) {
            hash = Md5ToHex(lookup.digest);
            return 1;
        }
        LogRecompute(name, lookup);
        recompute = true;
    }
    std::vector<uint8_t> buffer;
    if (!HashFile(name, digest, buffer)) return 0;
    hash = Md5ToHex(digest);
    return 1;
}

int HashCache::UpdateHashCacheEntry(const std::wstring& full_path, const std::wstring& hash) {
    Md5Digest digest;
    if (hash.empty() ? !Md5File(full_path, digest, cancelled_) : !Md5FromHex(hash, digest)) return 0;
    uint64_t time = 0;
    if (!FileWriteTime(full_path, time)) return 0;
    const size_t at = base_.empty() ? std::wstring::npos : full_path.find(base_);
    std::wstring name = at == std::wstring::npos ? full_path : full_path.substr(at + base_.size());
    if (name.size() > kMaxKeyChars) return 0;
    std::lock_guard<std::mutex> guard(lock_);
    Store(std::move(name), time, digest);
    return 1;
}

size_t HashCache::Size() const {
    std::lock_guard<std::mutex> guard(lock_);
    return entries_.size();
}

bool HashCache::Find(const std::wstring& name, HashCacheEntry& entry) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto found = entries_.find(name);
    if (found == entries_.end()) return false;
    entry = HashCacheEntry{found->second.time, Md5ToHex(found->second.digest), found->first};
    return true;
}

}  // namespace velm
