// The symbol font the system draws caption buttons with (minimise, maximise, close, in the
// windows' title bars and the message boxes): without it they show letters, and
// screenshots stop showing what players see.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/gdi_win32.h"

namespace velm {
namespace {

TEST(CaptionButtons, TheirSymbolFontIsInstalled) {
    UniqueGdiObject<HFONT> font(CreateFontW(16, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SYMBOL_CHARSET, OUT_DEFAULT_PRECIS,
                                CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Marlett"));
    ASSERT_TRUE(font);
    MemoryDc dc(nullptr);
    ScopedSelect select(dc.Get(), font.Get());
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc.Get(), LF_FACESIZE, face);
    // The font mapper answers a missing face with another one.
    EXPECT_EQ(std::wstring(face), L"Marlett");
}

}  // namespace
}  // namespace velm
