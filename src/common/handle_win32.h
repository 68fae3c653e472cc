#pragma once
// One owner per kernel handle and per registry key. Closing twice is harmless: the owner
// forgets the handle.
#include <windows.h>

#include <utility>

namespace velm {

class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(Normalise(handle)) {}
    ~UniqueHandle() { Close(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    HANDLE Release() { return std::exchange(handle_, nullptr); }
    void Reset(HANDLE handle = nullptr) {
        Close();
        handle_ = Normalise(handle);
    }
    void Close() {
        if (handle_) CloseHandle(std::exchange(handle_, nullptr));
    }

private:
    // CreateFile reports failure as INVALID_HANDLE_VALUE, the others as null.
    static HANDLE Normalise(HANDLE h) { return h == INVALID_HANDLE_VALUE ? nullptr : h; }
    HANDLE handle_ = nullptr;
};

// An open registry key, closed once.
class UniqueRegKey {
public:
    UniqueRegKey() = default;
    ~UniqueRegKey() { Close(); }
    UniqueRegKey(const UniqueRegKey&) = delete;
    UniqueRegKey& operator=(const UniqueRegKey&) = delete;

    HKEY Get() const { return key_; }
    // The slot for RegOpenKeyEx / RegCreateKeyEx; what was held is closed first.
    HKEY* Out() {
        Close();
        return &key_;
    }
    void Close() {
        if (key_) RegCloseKey(std::exchange(key_, nullptr));
    }

private:
    HKEY key_ = nullptr;
};

}  // namespace velm
