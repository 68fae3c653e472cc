#pragma once
// One owner per GDI object, image list and device-context change, so that painting code
// cannot leak an object or leave a DC half-changed.
#include <windows.h>
#include <commctrl.h>

#include <optional>
#include <utility>

namespace velm {

// Brushes, bitmaps, fonts and regions: DeleteObject. Deleting twice is harmless.
template <typename T>
class UniqueGdiObject {
public:
    UniqueGdiObject() = default;
    explicit UniqueGdiObject(T object) : object_(object) {}
    ~UniqueGdiObject() { Reset(); }
    UniqueGdiObject(UniqueGdiObject&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    UniqueGdiObject& operator=(UniqueGdiObject&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.object_, nullptr));
        return *this;
    }
    UniqueGdiObject(const UniqueGdiObject&) = delete;
    UniqueGdiObject& operator=(const UniqueGdiObject&) = delete;

    T Get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    void Reset(T object = nullptr) {
        if (object_) DeleteObject(object_);
        object_ = object;
    }

private:
    T object_ = nullptr;
};

using UniqueBitmap = UniqueGdiObject<HBITMAP>;
using UniqueBrush = UniqueGdiObject<HBRUSH>;

class UniqueImageList {
public:
    UniqueImageList() = default;
    explicit UniqueImageList(HIMAGELIST list) : list_(list) {}
    ~UniqueImageList() { Reset(); }
    UniqueImageList(UniqueImageList&& other) noexcept : list_(std::exchange(other.list_, nullptr)) {}
    UniqueImageList& operator=(UniqueImageList&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.list_, nullptr));
        return *this;
    }
    UniqueImageList(const UniqueImageList&) = delete;
    UniqueImageList& operator=(const UniqueImageList&) = delete;

    HIMAGELIST Get() const { return list_; }
    explicit operator bool() const { return list_ != nullptr; }
    void Reset(HIMAGELIST list = nullptr) {
        if (list_) ImageList_Destroy(list_);
        list_ = list;
    }

private:
    HIMAGELIST list_ = nullptr;
};

// A memory DC compatible with another one (or with the screen).
class MemoryDc {
public:
    explicit MemoryDc(HDC compatible_with) : dc_(CreateCompatibleDC(compatible_with)) {}
    ~MemoryDc() {
        if (dc_) DeleteDC(dc_);
    }
    MemoryDc(const MemoryDc&) = delete;
    MemoryDc& operator=(const MemoryDc&) = delete;
    HDC Get() const { return dc_; }

private:
    HDC dc_;
};

// Selects an object into a DC and puts the previous one back.
class ScopedSelect {
public:
    ScopedSelect(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~ScopedSelect() {
        if (previous_) SelectObject(dc_, previous_);
    }
    ScopedSelect(const ScopedSelect&) = delete;
    ScopedSelect& operator=(const ScopedSelect&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// A memory DC holding one bitmap, selected from construction until Deselect or the end,
// so that the bitmap can be painted from for as long as the owner keeps it. Members go in
// the order that undoes them: selection, then the DC, then the bitmap.
class BitmapDc {
public:
    BitmapDc(HDC compatible_with, UniqueBitmap bitmap) : bitmap_(std::move(bitmap)), dc_(compatible_with) {
        if (bitmap_) selection_.emplace(dc_.Get(), bitmap_.Get());
    }
    BitmapDc(const BitmapDc&) = delete;
    BitmapDc& operator=(const BitmapDc&) = delete;

    HDC Get() const { return dc_.Get(); }
    explicit operator bool() const { return bool(bitmap_); }
    // Puts the DC's own bitmap back; the DC and the bitmap stay.
    void Deselect() { selection_.reset(); }

private:
    UniqueBitmap bitmap_;
    MemoryDc dc_;
    std::optional<ScopedSelect> selection_;
};

// GetDC and ReleaseDC: a window's DC for drawing outside WM_PAINT.
class WindowDc {
public:
    explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDc() {
        if (dc_) ReleaseDC(window_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC Get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// BeginPaint and EndPaint.
class PaintScope {
public:
    explicit PaintScope(HWND window) : window_(window) { dc_ = BeginPaint(window, &paint_); }
    ~PaintScope() { EndPaint(window_, &paint_); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    HDC Dc() const { return dc_; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_ = nullptr;
};

}  // namespace velm
