#pragma once
// One owner per WinINet handle. Closing twice is harmless: the owner forgets the handle.
// Closing a handle from another thread makes a blocking call on it return, which is how
// request threads are cancelled.
#include <windows.h>
#include <wininet.h>

#include <utility>

namespace velm {

class InternetHandle {
public:
    InternetHandle() = default;
    explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
    ~InternetHandle() { Close(); }
    InternetHandle(InternetHandle&& other) noexcept : handle_(other.Release()) {}
    InternetHandle& operator=(InternetHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;

    HINTERNET Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    HINTERNET Release() { return std::exchange(handle_, nullptr); }
    void Reset(HINTERNET handle = nullptr) {
        Close();
        handle_ = handle;
    }
    void Close() {
        if (handle_) InternetCloseHandle(std::exchange(handle_, nullptr));
    }

private:
    HINTERNET handle_ = nullptr;
};

}  // namespace velm
