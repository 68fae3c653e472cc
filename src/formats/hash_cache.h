#pragma once
// The local hash cache: for each client file the MD5 last computed and the file's
// last-write time at that moment, kept in memory during an update run and stored between
// runs in "LocalHashCache.xml". A cached hash is trusted while the file's last-write time
// is exactly the one recorded, so an unchanged file is never read.
//
// Thread-safe: entries are stored by the update thread during planning and by download
// threads when jobs finish; one lock guards the map for every operation.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/md5.h"

namespace velm {

struct HashCacheEntry {
    uint64_t time = 0;  // last-write time when the hash was computed
    std::wstring hash;  // 32 upper-case hexadecimal digits
    std::wstring name;  // relative to the client base directory, as the file list spells it
};

// What the cache says of one installed file from its last-write time alone.
struct CacheLookup {
    enum class Verdict {
        kCurrent,    // cached and the time is unchanged: digest holds the cached hash
        kChanged,    // cached under another time (or the time cannot be read)
        kNotCached,
    };
    Verdict verdict = Verdict::kNotCached;
    Md5Digest digest{};
    uint64_t file_time = 0;    // 0 when the file's time cannot be read
    uint64_t stored_time = 0;  // the cached time, for kChanged
};

class HashCache {
public:
    // Keys longer than this are not stored.
    static constexpr size_t kMaxKeyChars = 1023;
    // A cache file above this size is not a cache this program wrote.
    static constexpr uint64_t kMaxFileBytes = 256u << 20;

    explicit HashCache(std::wstring base_directory) : base_(std::move(base_directory)) {}

    // Empties the cache, then reads the file. 1 when it was read; 0 when it is missing,
    // malformed or of another version (the cache then stays empty).
    int LoadLocalHashCache(const std::wstring& path);
    // Writes beside the file and renames over it, so that a crash or a full disk never
    // leaves a truncated cache. Always 1; a failure is logged.
    int SaveLocalHashCache(const std::wstring& path);

    // The hex MD5 of base + name: the cached one while the file's time is unchanged,
    // else computed (recompute is then set, so the caller stores it back). With
    // recompute set on entry the cache is not consulted. 0 when the file cannot be hashed.
    int GetLocalFileHash(const std::wstring& name, std::wstring& hash, bool& recompute);

    // The steps of GetLocalFileHash, for callers that hash files on several threads and
    // consume the results in list order. Lookup takes the file's time without opening
    // it. LogRecompute writes the lines that say why a file is hashed again; the caller
    // writes them where the sequential check would, in list order. HashFile hashes
    // base + name through the caller's buffer (see Md5File) and gives up when the cancel
    // flag is set.
    CacheLookup Lookup(const std::wstring& name) const;
    void LogRecompute(const std::wstring& name, const CacheLookup& lookup) const;
    bool HashFile(const std::wstring& name, Md5Digest& digest, std::vector<uint8_t>& buffer) const;

    // Stores the hash of a file (computed here when hash is empty) with its current
    // last-write time. 0 when the file cannot be hashed or its time read, or when hash is
    // not an MD5 in hexadecimal.
    int UpdateHashCacheEntry(const std::wstring& full_path, const std::wstring& hash);

    const std::wstring& BaseDirectory() const { return base_; }
    // A flag that, once set, makes every hashing in progress give up (the file then counts
    // as unreadable); it must outlive the cache.
    void SetCancelFlag(const std::atomic<bool>* cancelled) { cancelled_ = cancelled; }
    size_t Size() const;
    bool Find(const std::wstring& name, HashCacheEntry& entry) const;

private:
    // A name's key is its lower-case form (ASCII letters): names that differ only in
    // letter case share one entry. Looked up by hash (a check looks up every listed
    // file); saved in key order.
    struct KeyHash {
        size_t operator()(const std::wstring& name) const;
    };
    struct KeyEqual {
        bool operator()(const std::wstring& a, const std::wstring& b) const;
    };
    static bool KeyLess(const std::wstring& a, const std::wstring& b);
    // The hash as its 16 bytes: every hash the cache holds is an MD5 in hexadecimal, and
    // a cache of tens of thousands of files is loaded at every start.
    struct Stored {
        uint64_t time = 0;
        Md5Digest digest{};
    };
    // Both under the lock. Store replaces the entry of an equal key, its spelling too.
    void Store(std::wstring name, uint64_t time, const Md5Digest& digest);
    // One file element of a cache file; one that could never match a file is dropped.
    void StoreLoaded(const wchar_t* name, const wchar_t* hash, const wchar_t* low, const wchar_t* high);
    bool LoadDocument(const std::wstring& path);

    const std::wstring base_;
    mutable std::mutex lock_;
    // Keyed by the name as last stored.
    std::unordered_map<std::wstring, Stored, KeyHash, KeyEqual> entries_;
    const std::atomic<bool>* cancelled_ = nullptr;
};

}  // namespace velm
