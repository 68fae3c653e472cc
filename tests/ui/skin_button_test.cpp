// Skinned buttons over the real skin strips, read back from the screen under Wine, and
// the skin bitmaps every window needs.
#include "ui/skin_button_win32.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "ui/image_strip_win32.h"
#include "ui/ui_ids.h"
#include "ui/ui_test_support_win32.h"

namespace velm {
namespace {

using test::ClientPixel;
using test::PumpUntil;
using test::ResourcePixel;

constexpr COLORREF kParentColour = RGB(20, 90, 40);
constexpr int kButtonId = 1001;

TEST(SkinArt, EveryBitmapOfTheWindowsHasItsSizeAndWholeFrames) {
    struct Case {
        int id, width, height, frame_width;
    } cases[] = {
        {kBitmapCloseButton, 164, 21, 41},     {kBitmapBackground, 746, 580, 746},
        {kBitmapProgressFill, 539, 15, 539},   {kBitmapProgressTrack, 539, 15, 539},
        {kBitmapMinimiseButton, 160, 21, 40},  {kBitmapHomePageButton, 388, 32, 97},
        {kBitmapPatchButton, 388, 32, 97},     {kBitmapAccountButton, 388, 32, 97},
        {kBitmapSettingsButton, 388, 32, 97},  {kBitmapMainCancel, 540, 69, 135},
        {kBitmapMainPlay, 540, 69, 135},       {kBitmapMainUpdate, 540, 69, 135},
        {kBitmapPlusButton, 120, 18, 30},      {kBitmapServerStatus, 55, 15, 11},
        {kBitmapServerBadges, 756, 16, 18},    {kBitmapServerRows, 489, 23, 163},
        {kBitmapHintRealm, 364, 70, 182},      {kBitmapHintArrow, 132, 21, 66},
        {kBitmapHintServers, 364, 236, 182},
    };
    for (const Case& c : cases) {
        HBITMAP bitmap = static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(c.id),
                                                        IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        ASSERT_NE(bitmap, nullptr) << c.id;
        DIBSECTION dib{};
        ASSERT_EQ(GetObjectW(bitmap, sizeof dib, &dib), int(sizeof dib)) << c.id;
        DeleteObject(bitmap);
        EXPECT_EQ(dib.dsBm.bmWidth, c.width) << c.id;
        EXPECT_EQ(dib.dsBm.bmHeight, c.height) << c.id;
        EXPECT_EQ(dib.dsBmih.biBitCount, 24) << c.id;
        UniqueImageList strip = LoadImageStrip(GetModuleHandleW(nullptr), c.id, c.frame_width, kSkinMagenta);
        ASSERT_TRUE(strip) << c.id;
        EXPECT_EQ(ImageList_GetImageCount(strip.Get()), c.width / c.frame_width) << c.id;
    }
    // Transparent corners are exact magenta, or the colour key would miss them.
    EXPECT_EQ(ResourcePixel(kBitmapBackground, 0, 0), kSkinMagenta);
    EXPECT_EQ(ResourcePixel(kBitmapMainUpdate, 0, 0), kSkinMagenta);
    EXPECT_EQ(ResourcePixel(kBitmapHintServers, 90, 100), kSkinMagenta);
}

TEST(SkinArt, HintFramesShareOneShapeInTwoColours) {
    struct Case {
        int id, frame_width, height;
    } cases[] = {{kBitmapHintRealm, 182, 70}, {kBitmapHintArrow, 66, 21}, {kBitmapHintServers, 182, 236}};
    for (const Case& c : cases) {
        HBITMAP bitmap = static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(c.id),
                                                        IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        ASSERT_NE(bitmap, nullptr) << c.id;
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = 2 * c.frame_width;
        info.bmiHeader.biHeight = -c.height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        std::vector<uint32_t> pixels(size_t(2 * c.frame_width * c.height));
        HDC screen = GetDC(nullptr);
        const int rows = GetDIBits(screen, bitmap, 0, UINT(c.height), pixels.data(), &info, DIB_RGB_COLORS);
        ReleaseDC(nullptr, screen);
        DeleteObject(bitmap);
        ASSERT_EQ(rows, c.height) << c.id;
        int shape = 0, same_colour = 0;
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.frame_width; ++x) {
                const uint32_t red = pixels[size_t(y * 2 * c.frame_width + x)] & 0xFFFFFF;
                const uint32_t yellow = pixels[size_t(y * 2 * c.frame_width + c.frame_width + x)] & 0xFFFFFF;
                const bool red_clear = red == 0xFF00FF, yellow_clear = yellow == 0xFF00FF;
                EXPECT_EQ(red_clear, yellow_clear) << c.id << " at " << x << "," << y;
                if (red_clear != yellow_clear) break;
                if (!red_clear) {
                    ++shape;
                    if (red == yellow) ++same_colour;
                }
            }
        }
        // Something is drawn, and the colours tell the frames apart.
        EXPECT_GT(shape, 100) << c.id;
        EXPECT_LT(same_colour, shape) << c.id;
    }
}

TEST(SkinArt, StripsThatDoNotCutIntoWholeFramesAreRefused) {
    struct Case {
        int id, frame_width;
    } cases[] = {{kBitmapCloseButton, 40}, {kBitmapCloseButton, 0}, {kBitmapCloseButton, -41},
                 {kBitmapCloseButton, 165}, {4711, 10}};
    for (const Case& c : cases) {
        EXPECT_FALSE(LoadImageStrip(GetModuleHandleW(nullptr), c.id, c.frame_width, kSkinMagenta))
            << c.id << " / " << c.frame_width;
    }
}

TEST(SkinButtonFrames, DisabledWinsThenPushedThenHover) {
    struct Case {
        bool disabled, pushed, hover;
        int frame;
    } cases[] = {
        {false, false, false, CSkinButton::kNormal}, {false, false, true, CSkinButton::kHover},
        {false, true, false, CSkinButton::kPushed},  {false, true, true, CSkinButton::kPushed},
        {true, false, false, CSkinButton::kDisabled}, {true, false, true, CSkinButton::kDisabled},
        {true, true, true, CSkinButton::kDisabled},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CSkinButton::FrameFor(c.disabled, c.pushed, c.hover), c.frame)
            << c.disabled << c.pushed << c.hover;
    }
}

class SkinButtonOnScreen : public ::testing::Test {
protected:
    // One parent for the suite: without a window manager, Wine waits up to two seconds
    // for every top-level window it takes down.
    static void SetUpTestSuite() { shared_parent_ = new test::TestWindow(60, 60, 300, 200, kParentColour); }
    static void TearDownTestSuite() {
        delete shared_parent_;
        shared_parent_ = nullptr;
    }
    void TearDown() override {
        if (button_) DestroyWindow(button_);
    }
    void SetUp() override {
        button_ = CreateWindowExW(0, L"BUTTON", L"Update", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 30, 40,
                                  60, 20, parent_.Get(), HMENU(INT_PTR(kButtonId)), GetModuleHandleW(nullptr),
                                  nullptr);
        ASSERT_NE(button_, nullptr);
        // The cursor starts away from the button.
        SetCursorPos(5, 5);
        test::PumpMessages(50);
    }

    // A point inside the face where the four frames of the strip all differ.
    POINT Probe(int bitmap_id, int frame_width) {
        for (int y = 8; y < 60; y += 3) {
            for (int x = 6; x < frame_width - 6; x += 3) {
                COLORREF colours[4];
                for (int f = 0; f < 4; ++f) colours[f] = ResourcePixel(bitmap_id, f * frame_width + x, y);
                bool distinct = true;
                for (int a = 0; a < 4; ++a) {
                    for (int b = a + 1; b < 4; ++b) distinct = distinct && colours[a] != colours[b];
                    distinct = distinct && colours[a] != kSkinMagenta;
                }
                if (distinct) return POINT{x, y};
            }
        }
        return POINT{-1, -1};
    }

    // Waits until the button shows frame (of bitmap_id) at the probe point.
    bool Shows(int bitmap_id, int frame_width, POINT probe, int frame) {
        const COLORREF want = ResourcePixel(bitmap_id, frame * frame_width + probe.x, probe.y);
        return PumpUntil([&] {
            RedrawWindow(button_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
            return ClientPixel(button_, probe.x, probe.y) == want;
        }, 3000);
    }

    void MoveCursorOnto(HWND window) {
        RECT rect{};
        GetWindowRect(window, &rect);
        SetCursorPos((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    }

    static test::TestWindow* shared_parent_;
    test::TestWindow& parent_ = *shared_parent_;
    HWND button_ = nullptr;
};
test::TestWindow* SkinButtonOnScreen::shared_parent_ = nullptr;

TEST_F(SkinButtonOnScreen, ShowsTheFrameOfEachStateAndTheParentThroughMagenta) {
    CSkinButton skin;
    ASSERT_EQ(skin.Attach(parent_.Get(), kButtonId, GetModuleHandleW(nullptr), kBitmapMainUpdate, 135), 1);
    RECT rect{};
    GetClientRect(button_, &rect);
    EXPECT_EQ(rect.right, 135);
    EXPECT_EQ(rect.bottom, 69);
    const POINT probe = Probe(kBitmapMainUpdate, 135);
    ASSERT_GE(probe.x, 0);

    EXPECT_TRUE(Shows(kBitmapMainUpdate, 135, probe, CSkinButton::kNormal));
    // The strip's magenta corner shows the parent's own colour.
    EXPECT_EQ(ClientPixel(button_, 0, 0), kParentColour);

    MoveCursorOnto(button_);
    EXPECT_TRUE(Shows(kBitmapMainUpdate, 135, probe, CSkinButton::kHover)) << "hover";

    SendMessageW(button_, BM_SETSTATE, TRUE, 0);
    EXPECT_TRUE(Shows(kBitmapMainUpdate, 135, probe, CSkinButton::kPushed)) << "pushed";
    SendMessageW(button_, BM_SETSTATE, FALSE, 0);

    SetCursorPos(5, 5);
    EXPECT_TRUE(Shows(kBitmapMainUpdate, 135, probe, CSkinButton::kNormal)) << "after the mouse left";

    // Disabled shows frame 3 and stays there with the mouse over it.
    EnableWindow(button_, FALSE);
    EXPECT_TRUE(Shows(kBitmapMainUpdate, 135, probe, CSkinButton::kDisabled)) << "disabled";
    MoveCursorOnto(button_);
    test::PumpMessages(200);
    EXPECT_TRUE(Shows(kBitmapMainUpdate, 135, probe, CSkinButton::kDisabled)) << "disabled under the mouse";
    SetCursorPos(5, 5);
}

TEST_F(SkinButtonOnScreen, ANewSkinKeepsTheFrameMeaning) {
    CSkinButton skin;
    ASSERT_EQ(skin.Attach(parent_.Get(), kButtonId, GetModuleHandleW(nullptr), kBitmapMainUpdate, 135), 1);
    skin.SetImages(LoadImageStrip(GetModuleHandleW(nullptr), kBitmapMainPlay, 135, kSkinMagenta));
    const POINT probe = Probe(kBitmapMainPlay, 135);
    ASSERT_GE(probe.x, 0);
    EXPECT_TRUE(Shows(kBitmapMainPlay, 135, probe, CSkinButton::kNormal));
    EnableWindow(button_, FALSE);
    EXPECT_TRUE(Shows(kBitmapMainPlay, 135, probe, CSkinButton::kDisabled));
    EnableWindow(button_, TRUE);
    EXPECT_TRUE(Shows(kBitmapMainPlay, 135, probe, CSkinButton::kNormal));
}

TEST_F(SkinButtonOnScreen, AQuickSecondClickIsAClickToo) {
    CSkinButton skin;
    ASSERT_EQ(skin.Attach(parent_.Get(), kButtonId, GetModuleHandleW(nullptr), kBitmapMainUpdate, 135), 1);
    static int clicks;
    clicks = 0;
    auto count = [](HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR) -> LRESULT {
        if (message == WM_COMMAND && LOWORD(wparam) == kButtonId && HIWORD(wparam) == BN_CLICKED) ++clicks;
        return DefSubclassProc(window, message, wparam, lparam);
    };
    SetWindowSubclass(parent_.Get(), count, 1, 0);
    const LPARAM inside = MAKELPARAM(20, 20);
    for (UINT message : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}) {
        SendMessageW(button_, message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, inside);
    }
    RemoveWindowSubclass(parent_.Get(), count, 1);
    EXPECT_EQ(clicks, 2);
}

TEST_F(SkinButtonOnScreen, AttachRefusesAMissingButtonOrStrip) {
    CSkinButton skin;
    EXPECT_EQ(skin.Attach(parent_.Get(), kButtonId + 1, GetModuleHandleW(nullptr), kBitmapMainUpdate, 135), 0);
    EXPECT_EQ(skin.Attach(parent_.Get(), kButtonId, GetModuleHandleW(nullptr), 4711, 135), 0);
    // A strip of fewer than four frames cannot show every state.
    EXPECT_EQ(skin.Attach(parent_.Get(), kButtonId, GetModuleHandleW(nullptr), kBitmapServerRows, 163), 0);
    EXPECT_EQ(skin.Window(), nullptr);
    // The button was left a plain push button.
    EXPECT_EQ(GetWindowLongPtrW(button_, GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);
}

}  // namespace
}  // namespace velm
