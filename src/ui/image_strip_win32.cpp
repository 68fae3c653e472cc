#include "ui/image_strip_win32.h"

namespace velm {

UniqueImageList ImageStripFromBitmap(HBITMAP bitmap, int frame_width, COLORREF mask) {
    BITMAP info{};
    if (!bitmap || !GetObjectW(bitmap, sizeof info, &info)) return UniqueImageList();
    if (frame_width <= 0 || info.bmWidth < frame_width || info.bmWidth % frame_width != 0) {
        return UniqueImageList();
    }
    const int frames = info.bmWidth / frame_width;
    const bool masked = mask != CLR_NONE;
    UniqueImageList list(ImageList_Create(frame_width, info.bmHeight,
                                          ILC_COLOR24 | (masked ? ILC_MASK : 0), frames, 4));
    if (!list) return list;
    const int added = masked ? ImageList_AddMasked(list.Get(), bitmap, mask)
                             : ImageList_Add(list.Get(), bitmap, nullptr);
    if (added < 0 || ImageList_GetImageCount(list.Get()) != frames) list.Reset();
    return list;
}

UniqueImageList LoadImageStrip(HINSTANCE module, int bitmap_id, int frame_width, COLORREF mask) {
    UniqueBitmap bitmap(static_cast<HBITMAP>(
        LoadImageW(module, MAKEINTRESOURCEW(bitmap_id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    return ImageStripFromBitmap(bitmap.Get(), frame_width, mask);
}

}  // namespace velm
