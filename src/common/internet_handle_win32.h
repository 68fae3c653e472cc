#pragma once
// One owner per WinINet handle. Closing twice is harmless: the owner forgets the handle.
// Closing a handle from another thread makes a blocking call on it return, which is how
// request threads are cancelled.
//
// The handle is held atomically: an asynchronous request learns its handle on a WinINet
// callback thread (Reset) and forgets it there when it closes (Release), while the owning
// thread reads it (Get) and closes it (Close).
#include <windows.h>
#include <wininet.h>

#include <atomic>

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

    HINTERNET Get() const { return handle_.load(); }
    explicit operator bool() const { return handle_.load() != nullptr; }
    HINTERNET Release() { return handle_.exchange(nullptr); }
    // Takes handle. A different handle held before is closed; the same one is kept, so
    // that the callback thread and the owning thread may both hand over one new handle.
    void Reset(HINTERNET handle = nullptr) {
        HINTERNET previous = handle_.exchange(handle);
        if (previous && previous != handle) CloseNow(previous);
    }
    void Close() {
        if (HINTERNET handle = handle_.exchange(nullptr)) CloseNow(handle);
    }

private:
    // A root handle's status callback is cleared first, so that no notice reaches a
    // callback whose owner is going away. Handles below the root keep theirs: the notice
    // of their own closing is what their owners count on to release what a request holds.
    static void CloseNow(HINTERNET handle) {
        DWORD type = 0;
        DWORD size = sizeof(type);
        if (InternetQueryOptionW(handle, INTERNET_OPTION_HANDLE_TYPE, &type, &size) &&
            type == INTERNET_HANDLE_TYPE_INTERNET)
            InternetSetStatusCallbackW(handle, nullptr);
        InternetCloseHandle(handle);
    }

    std::atomic<HINTERNET> handle_{nullptr};
};

}  // namespace velm
