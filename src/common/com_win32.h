#pragma once
// One owner per COM reference, BSTR and OLE initialisation of a thread. Releasing twice is
// harmless: the owner forgets what it released.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <string>
#include <utility>

namespace velm {

// Holds one reference to a COM object and releases it.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    // Takes over a reference the caller holds.
    explicit ComPtr(T* adopted) : pointer_(adopted) {}
    ~ComPtr() { Reset(); }
    ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            pointer_ = std::exchange(other.pointer_, nullptr);
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    T* Get() const { return pointer_; }
    T* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    // Releases what is held and hands out the slot for a call that returns a new
    // reference (CoCreateInstance, QueryInterface).
    void** Out() {
        Reset();
        return reinterpret_cast<void**>(&pointer_);
    }
    void Reset() {
        if (pointer_) std::exchange(pointer_, nullptr)->Release();
    }

private:
    T* pointer_ = nullptr;
};

// A BSTR copy of a wide string up to its first null; null when the system is out of memory.
class UniqueBstr {
public:
    explicit UniqueBstr(const std::wstring& text) : text_(SysAllocString(text.c_str())) {}
    ~UniqueBstr() {
        if (text_) SysFreeString(text_);
    }
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;

    BSTR Get() const { return text_; }
    explicit operator bool() const { return text_ != nullptr; }

private:
    BSTR text_;
};

// OleInitialize for the calling thread, undone at the end only when it succeeded (S_FALSE,
// already initialised, counts and must be balanced too).
class OleScope {
public:
    OleScope() : result_(OleInitialize(nullptr)) {}
    ~OleScope() {
        if (SUCCEEDED(result_)) OleUninitialize();
    }
    OleScope(const OleScope&) = delete;
    OleScope& operator=(const OleScope&) = delete;
    bool Ok() const { return SUCCEEDED(result_); }

private:
    HRESULT result_;
};

// CoInitializeEx (single-threaded apartment) for the calling thread, balanced at the end
// only when it succeeded.
class ComScope {
public:
    ComScope() : initialised_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComScope() {
        if (initialised_) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    bool initialised_;
};

}  // namespace velm
