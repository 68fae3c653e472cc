// Painting the main window over its skin: the background behind the window and the
// controls that sit on it, the skinned progress bars, the realm drop-down's placeholder
// and the owner-drawn server rows. The controls reach this file through ControlProc.
#include "ui/main_dlg_win32.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdint>

#include "common/resource_text_win32.h"
#include "services/server_status.h"
#include "ui/main_dlg_parts_win32.h"
#include "ui/ui_ids.h"

namespace velm {

using namespace main_dlg;

namespace {

// Texts over the skin: the system's black would vanish in its dark blue.
constexpr COLORREF kSkinTextColour = RGB(255, 255, 255);
// Within a server row: the status icon, then the name beside it, the badge at the right.
constexpr int kStatusIconX = 3, kRowTextY = 4, kBadgeX = 143;
// The realm drop-down's "choose a realm" text while nothing is chosen.
constexpr POINT kPlaceholderAt{3, 4};

enum RowFrame : int { kRowNormal = 0, kRowHover = 1, kRowSelected = 2 };

// The cursor inside the row (client coordinates of the list), its border excluded.
bool CursorOverRow(HWND list, const RECT& row) {
    POINT cursor{};
    GetCursorPos(&cursor);
    ScreenToClient(list, &cursor);
    return cursor.x > row.left && cursor.x < row.right - 1 && cursor.y > row.top && cursor.y < row.bottom - 1;
}

}  // namespace

INT_PTR CMainDlg::ControlColour(UINT message, HDC dc) {
    SetBkMode(dc, TRANSPARENT);
    // Only the statics sit on the skin; the drop-down keeps the system's colours.
    if (message == WM_CTLCOLORSTATIC) SetTextColor(dc, kSkinTextColour);
    return INT_PTR(GetStockObject(HOLLOW_BRUSH));
}

void CMainDlg::SetTransparentText(int control_id, const std::wstring& text) {
    HWND control = Control(control_id);
    if (!control) return;
    SetWindowTextW(control, text.c_str());
    // The old text must not show through the new one: the control's background comes
    // back from the skin before it paints.
    RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void CMainDlg::PaintBackground(HWND control, HDC dc) {
    if (!background_ || !*background_) return;
    RECT client{};
    GetClientRect(control, &client);
    POINT origin{0, 0};
    if (control != window_) MapWindowPoints(control, window_, &origin, 1);
    BitBlt(dc, 0, 0, client.right, client.bottom, background_->Get(), origin.x, origin.y, SRCCOPY);
}

void CMainDlg::PaintProgressBar(HWND bar, HDC dc) {
    RECT client{};
    GetClientRect(bar, &client);
    MemoryDc source(dc);
    if (progress_track_) {
        ScopedSelect track(source.Get(), progress_track_.Get());
        BitBlt(dc, 0, 0, client.right, client.bottom, source.Get(), 0, 0, SRCCOPY);
    }
    const LRESULT position = SendMessageW(bar, PBM_GETPOS, 0, 0);
    const LRESULT maximum = SendMessageW(bar, PBM_GETRANGE, FALSE, 0);
    if (progress_fill_ && maximum > 0 && position > 0) {
        const int width = int(int64_t(client.right) * position / maximum);
        ScopedSelect fill(source.Get(), progress_fill_.Get());
        BitBlt(dc, 0, 0, width, client.bottom, source.Get(), 0, 0, SRCCOPY);
    }
}

void CMainDlg::PaintRealmPlaceholder(HWND list) {
    if (SendMessageW(list, CB_GETCOUNT, 0, 0) > 0 && SendMessageW(list, CB_GETCURSEL, 0, 0) != CB_ERR) return;
    WindowDc dc(list);
    ScopedSelect font(dc.Get(), HFONT(SendMessageW(window_, WM_GETFONT, 0, 0)));
    SetBkMode(dc.Get(), TRANSPARENT);
    const std::wstring text = LoadResString(kStringChooseRealm);
    TextOutW(dc.Get(), kPlaceholderAt.x, kPlaceholderAt.y, text.c_str(), int(text.size()));
}

INT_PTR CMainDlg::MeasureServerRow(MEASUREITEMSTRUCT& measure) {
    if (measure.CtlID != kMainServerList) return FALSE;
    measure.itemHeight = kRowHeight;
    measure.itemWidth = kRowWidth;
    return TRUE;
}

INT_PTR CMainDlg::DrawServerRow(const DRAWITEMSTRUCT& item) {
    if (item.CtlID != kMainServerList) return FALSE;
    ComposeServerRow(item);
    return TRUE;
}

// The row is composed on the scratch surface (skin, frame, icon, name, badge) and copied
// to the list in one piece, so that it never flickers.
void CMainDlg::ComposeServerRow(const DRAWITEMSTRUCT& item) {
    if (!scratch_ || int(item.itemID) < 0) return;
    HDC scratch = scratch_->Get();
    const RECT& row = item.rcItem;
    const int width = std::min<int>(row.right - row.left, kScratchSize);
    const int height = std::min<int>(row.bottom - row.top, kScratchSize);
    // The skin behind the row first, so that the frames' magenta parts show it.
    POINT origin{row.left, row.top};
    MapWindowPoints(item.hwndItem, window_, &origin, 1);
    if (background_) BitBlt(scratch, 0, 0, width, height, background_->Get(), origin.x, origin.y, SRCCOPY);

    const int frame = (item.itemState & ODS_SELECTED) ? kRowSelected
                      : CursorOverRow(item.hwndItem, row) ? kRowHover
                                                          : kRowNormal;
    if (row_frames_) ImageList_Draw(row_frames_.Get(), frame, scratch, 0, 0, ILD_TRANSPARENT);

    const ServerRecord record = ServerOfChosenRealm(size_t(item.itemData));
    if (!record.server_name.empty()) {
        if (status_icons_)
            ImageList_Draw(status_icons_.Get(), StatusIconFrame(record.load_code, record.state_code), scratch,
                           kStatusIconX, kRowTextY, ILD_TRANSPARENT);
        int icon_width = 0, icon_height = 0;
        if (status_icons_) ImageList_GetIconSize(status_icons_.Get(), &icon_width, &icon_height);
        SetTextColor(scratch, kSkinTextColour);
        TextOutW(scratch, icon_width + kStatusIconX, kRowTextY, record.server_name.c_str(),
                 int(record.server_name.size()));
        const int badge = BadgeFrame(record.first_badge_flag, record.second_badge_flag, GetTickCount());
        if (badge >= 0 && badges_) ImageList_Draw(badges_.Get(), badge, scratch, kBadgeX, kRowTextY, ILD_TRANSPARENT);
    }
    BitBlt(item.hDC, row.left, row.top, width, height, scratch, 0, 0, SRCCOPY);
}

LRESULT CALLBACK CMainDlg::ControlProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                       DWORD_PTR self) {
    return reinterpret_cast<CMainDlg*>(self)->HandleControlMessage(window, message, wparam, lparam);
}

LRESULT CMainDlg::HandleControlMessage(HWND control, UINT message, WPARAM wparam, LPARAM lparam) {
    const int id = GetDlgCtrlID(control);
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(control, ControlProc, 0);
        return DefSubclassProc(control, message, wparam, lparam);
    }
    if (id == kMainOverallBar || id == kMainFileBar) return ProgressBarMessage(control, message, wparam, lparam);
    if (id == kMainRealmList) {
        const LRESULT result = DefSubclassProc(control, message, wparam, lparam);
        if (message == WM_PAINT) PaintRealmPlaceholder(control);
        return result;
    }
    if (id == kMainServerList) return ServerListMessage(control, message, wparam, lparam);
    // The transparent statics.
    if (message == WM_ERASEBKGND) {
        PaintBackground(control, reinterpret_cast<HDC>(wparam));
        return 1;
    }
    return DefSubclassProc(control, message, wparam, lparam);
}

LRESULT CMainDlg::ProgressBarMessage(HWND bar, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_ERASEBKGND) return 1;
    if (message == WM_PAINT) {
        PaintScope paint(bar);
        PaintProgressBar(bar, paint.Dc());
        return 0;
    }
    return DefSubclassProc(bar, message, wparam, lparam);
}

LRESULT CMainDlg::ServerListMessage(HWND list, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_ERASEBKGND:
        PaintBackground(list, reinterpret_cast<HDC>(wparam));
        return 1;
    case WM_PAINT:
        if (SendMessageW(list, LB_GETCOUNT, 0, 0) == 0) {
            ValidateRect(list, nullptr);
            return 0;
        }
        break;
    case WM_MOUSEMOVE:
        // The hover frame follows the cursor.
        InvalidateRect(list, nullptr, FALSE);
        break;
    case WM_MOUSEWHEEL:
    case WM_VSCROLL: {
        const LRESULT result = DefSubclassProc(list, message, wparam, lparam);
        InvalidateRect(list, nullptr, TRUE);
        return result;
    }
    default:
        break;
    }
    return DefSubclassProc(list, message, wparam, lparam);
}

}  // namespace velm
