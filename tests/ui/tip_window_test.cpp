// Hint windows under Wine: a colour-keyed layered tool window of one frame's size that
// shows without taking the focus, follows its owner and blinks its frames.
#include "ui/tip_window_win32.h"

#include <gtest/gtest.h>

#include <set>

#include "ui/image_strip_win32.h"
#include "ui/ui_ids.h"
#include "ui/ui_test_support_win32.h"

namespace velm {
namespace {

using test::ClientPixel;
using test::PumpUntil;

TEST(TipWindowFrames, ChangeEvery150Milliseconds) {
    struct Case {
        DWORD tick;
        int frames, frame;
    } cases[] = {
        {0, 2, 0},   {149, 2, 0}, {150, 2, 1}, {299, 2, 1},   {300, 2, 0},
        {4294967295u, 2, 1},  // 28633115 whole steps: odd
        {0, 1, 0},   {150, 1, 0}, {999, 1, 0}, {450, 3, 0},   {300, 3, 2},  {100, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CTipWindow::FrameAt(c.tick, c.frames), c.frame) << c.tick << " / " << c.frames;
    }
}

// A strip of solid frames, one colour each.
UniqueImageList SolidStrip(const std::vector<COLORREF>& colours, int width, int height) {
    HDC screen = GetDC(nullptr);
    UniqueBitmap bitmap(CreateCompatibleBitmap(screen, width * int(colours.size()), height));
    ReleaseDC(nullptr, screen);
    {
        MemoryDc memory(nullptr);
        ScopedSelect select(memory.Get(), bitmap.Get());
        for (size_t i = 0; i < colours.size(); ++i) {
            UniqueBrush brush(CreateSolidBrush(colours[i]));
            RECT rect{int(i) * width, 0, int(i + 1) * width, height};
            FillRect(memory.Get(), &rect, brush.Get());
        }
    }
    return ImageStripFromBitmap(bitmap.Get(), width, CLR_NONE);
}

class TipWindowOnScreen : public ::testing::Test {
protected:
    // One owner for the suite: without a window manager, Wine waits up to two seconds
    // for every top-level window it takes down.
    static void SetUpTestSuite() { shared_owner_ = new test::TestWindow(50, 40, 746, 580, RGB(30, 30, 60)); }
    static void TearDownTestSuite() {
        delete shared_owner_;
        shared_owner_ = nullptr;
    }
    void SetUp() override {
        SetWindowPos(owner_.Get(), nullptr, 50, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    static test::TestWindow* shared_owner_;
    test::TestWindow& owner_ = *shared_owner_;
};
test::TestWindow* TipWindowOnScreen::shared_owner_ = nullptr;

TEST_F(TipWindowOnScreen, IsAHiddenColourKeyedToolWindowOfOneFrame) {
    struct Case {
        int bitmap, frame_width, width, height;
        POINT offset;
    } cases[] = {
        {kBitmapHintRealm, 182, 182, 70, {559, 31}},
        {kBitmapHintArrow, 66, 66, 21, {488, 104}},
        {kBitmapHintServers, 182, 182, 236, {558, 102}},
    };
    for (const Case& c : cases) {
        CTipWindow tip;
        ASSERT_EQ(tip.Create(owner_.Get(), GetModuleHandleW(nullptr), c.bitmap, c.frame_width, c.offset), 1);
        HWND window = tip.Window();
        EXPECT_FALSE(IsWindowVisible(window));
        RECT rect{};
        GetWindowRect(window, &rect);
        EXPECT_EQ(rect.right - rect.left, c.width) << c.bitmap;
        EXPECT_EQ(rect.bottom - rect.top, c.height) << c.bitmap;
        POINT origin{0, 0};
        ClientToScreen(owner_.Get(), &origin);
        EXPECT_EQ(rect.left, origin.x + c.offset.x) << c.bitmap;
        EXPECT_EQ(rect.top, origin.y + c.offset.y) << c.bitmap;
        EXPECT_EQ(GetWindow(window, GW_OWNER), owner_.Get());
        const LONG_PTR ex_style = GetWindowLongPtrW(window, GWL_EXSTYLE);
        EXPECT_TRUE(ex_style & WS_EX_LAYERED);
        EXPECT_TRUE(ex_style & WS_EX_TOOLWINDOW);
        EXPECT_EQ(test::WindowText(window), L"emberlytip");
        COLORREF key = 0;
        BYTE alpha = 0;
        DWORD flags = 0;
        ASSERT_TRUE(GetLayeredWindowAttributes(window, &key, &alpha, &flags));
        EXPECT_EQ(key, kSkinMagenta);
        EXPECT_EQ(alpha, 255);
        EXPECT_EQ(flags, DWORD(LWA_COLORKEY | LWA_ALPHA));
    }
    CTipWindow missing;
    EXPECT_EQ(missing.Create(owner_.Get(), GetModuleHandleW(nullptr), 4711, 182, POINT{0, 0}), 0);
    EXPECT_EQ(missing.Create(owner_.Get(), GetModuleHandleW(nullptr), kBitmapHintRealm, 100, POINT{0, 0}), 0);
    EXPECT_EQ(missing.Window(), nullptr);
}

TEST_F(TipWindowOnScreen, ShowsWithoutTakingTheFocusAndHides) {
    CTipWindow tip;
    ASSERT_EQ(tip.Create(owner_.Get(), GetModuleHandleW(nullptr), kBitmapHintArrow, 66, POINT{488, 104}), 1);
    SetActiveWindow(owner_.Get());
    HWND active = GetActiveWindow();
    tip.Show(true);
    test::PumpMessages(50);
    EXPECT_TRUE(tip.Visible());
    EXPECT_EQ(GetActiveWindow(), active);
    tip.Show(false);
    EXPECT_FALSE(tip.Visible());
    tip.Show(true);
    EXPECT_TRUE(tip.Visible());
}

TEST_F(TipWindowOnScreen, FollowsEveryMoveOfItsOwner) {
    CTipWindow tip;
    const POINT offset{559, 31};
    ASSERT_EQ(tip.Create(owner_.Get(), GetModuleHandleW(nullptr), kBitmapHintRealm, 182, offset), 1);
    tip.Show(true);
    const POINT places[] = {{120, 80}, {0, 0}, {300, 10}, {-100, 200}};
    for (const POINT& place : places) {
        SetWindowPos(owner_.Get(), nullptr, place.x, place.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        // Moved in the same step: no message handling in between.
        RECT rect{};
        GetWindowRect(tip.Window(), &rect);
        POINT origin{0, 0};
        ClientToScreen(owner_.Get(), &origin);
        EXPECT_EQ(rect.left, origin.x + offset.x) << place.x << "," << place.y;
        EXPECT_EQ(rect.top, origin.y + offset.y) << place.x << "," << place.y;
        EXPECT_EQ(rect.right - rect.left, 182);
        EXPECT_EQ(rect.bottom - rect.top, 70);
    }
    EXPECT_TRUE(tip.Visible());
}

TEST_F(TipWindowOnScreen, TwoFramesAlternateAndOneFrameStays) {
    const COLORREF red = RGB(230, 40, 30), yellow = RGB(250, 210, 10);
    struct Case {
        std::vector<COLORREF> frames;
        std::set<COLORREF> seen;
    } cases[] = {
        {{red, yellow}, {red, yellow}},
        {{red}, {red}},
    };
    for (const Case& c : cases) {
        CTipWindow tip;
        ASSERT_EQ(tip.Create(owner_.Get(), SolidStrip(c.frames, 20, 12), POINT{10, 10}), 1);
        tip.Show(true);
        std::set<COLORREF> seen;
        // Sample for a while: the repaint timer brings each frame up in turn. Two frames
        // get a generous bound to show both; one frame is watched for several changes.
        PumpUntil([&] {
            seen.insert(ClientPixel(tip.Window(), 5, 5));
            return c.frames.size() > 1 && seen.size() >= 2;
        }, c.frames.size() > 1 ? 5000 : 1000);
        EXPECT_EQ(seen, c.seen) << c.frames.size();
    }
}

TEST_F(TipWindowOnScreen, GoesWithItsOwner) {
    CTipWindow tip;
    HWND window = nullptr;
    {
        test::TestWindow owner(10, 10, 100, 100, RGB(0, 0, 0));
        ASSERT_EQ(tip.Create(owner.Get(), GetModuleHandleW(nullptr), kBitmapHintArrow, 66, POINT{5, 5}), 1);
        window = tip.Window();
        EXPECT_TRUE(IsWindow(window));
    }
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(tip.Window(), nullptr);
    tip.Show(true);
    tip.Follow();
    EXPECT_FALSE(tip.Visible());
}

}  // namespace
}  // namespace velm
