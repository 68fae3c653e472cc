#pragma once
// Skin bitmaps cut into image lists of equal-width frames.
#include <windows.h>

#include "common/gdi_win32.h"

namespace velm {

// The skins' transparent colour.
inline constexpr COLORREF kSkinMagenta = RGB(255, 0, 255);

// Loads bitmap resource bitmap_id of the module as a device-independent bitmap and cuts
// it into frames frame_width pixels wide. With a mask colour, pixels of that colour are
// left out when a frame is drawn with ILD_TRANSPARENT; with CLR_NONE every pixel is kept
// (a colour-keyed window then hides the magenta ones itself). Null when the bitmap is
// missing or its width is not a whole number of frames.
UniqueImageList LoadImageStrip(HINSTANCE module, int bitmap_id, int frame_width, COLORREF mask);

// The same for a bitmap the caller holds (the bitmap stays the caller's).
UniqueImageList ImageStripFromBitmap(HBITMAP bitmap, int frame_width, COLORREF mask);

}  // namespace velm
