#include "ui/error_result_dlg_win32.h"

#include <shellapi.h>

#include "common/config_text_ids.h"
#include "common/string_ids.h"
#include "common/resource_text_win32.h"
#include "common/handle_win32.h"
#include "common/url.h"
#include "services/report_list_win32.h"
#include "services/resolve_host_win32.h"
#include "ui/ui_ids.h"

namespace velm {
namespace {

// A multi-line edit control breaks lines only at CR LF.
const wchar_t kLineEnd[] = L"\r\n";
const wchar_t kServerIpLine[] = L"Server IP: ";

// The answers of the dialog's lookups (the dialog is a window class of its own, so the
// number is free). wparam says which text the address completes.
constexpr UINT kMessageAddressResolved = WM_APP + 1;
constexpr WPARAM kTitleAddress = 0;
constexpr WPARAM kServerIpAddress = 1;

void OpenInBrowser(const std::wstring& url) {
    ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void AppendText(HWND edit, const std::wstring& text) {
    const LRESULT end = SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0);
    SendMessageW(edit, EM_SETSEL, WPARAM(end), LPARAM(end));
    SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

RECT ChildRect(HWND parent, HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void CentreOverOwner(HWND window) {
    RECT area{};
    HWND owner = GetWindow(window, GW_OWNER);
    if (!owner || !GetWindowRect(owner, &area)) SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    RECT own{};
    GetWindowRect(window, &own);
    const int width = own.right - own.left, height = own.bottom - own.top;
    SetWindowPos(window, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

bool NamedMutexExists(const wchar_t* name) {
    UniqueHandle mutex(CreateMutexW(nullptr, FALSE, name));
    return mutex && GetLastError() == ERROR_ALREADY_EXISTS;
}

ErrorResultDlg::ErrorResultDlg(std::vector<std::wstring> errors)
    : ErrorResultDlg(std::move(errors), LoadConfigText(kConfigFileListUrl),
                     LoadConfigText(kConfigPatchPageUrl)) {}

ErrorResultDlg::ErrorResultDlg(std::vector<std::wstring> errors, std::wstring file_list_url,
                               std::wstring patch_page_url)
    : ModalDialog(kDialogErrorResult),
      errors_(std::move(errors)),
      file_list_url_(std::move(file_list_url)),
      patch_page_url_(std::move(patch_page_url)),
      open_page_(OpenInBrowser),
      resolve_(ResolveHostIp) {}

void ErrorResultDlg::OnInit() {
    HWND dialog = Handle();
    CentreOverOwner(dialog);

    HWND text = GetDlgItem(dialog, kErrorReportText);
    HWND button = GetDlgItem(dialog, kButtonPatchDownload);
    RECT client{}, text_rect = ChildRect(dialog, text), button_rect = ChildRect(dialog, button);
    GetClientRect(dialog, &client);
    text_bottom_margin_ = client.bottom - text_rect.bottom;
    button_right_margin_ = client.right - button_rect.right;
    button_bottom_margin_ = client.bottom - button_rect.bottom;

    // The error list has no length limit of its own; the control's default would cut it.
    SendMessageW(text, EM_SETLIMITTEXT, 0, 0);
    AppendText(text, LoadResString(kStringUpdateErrorsHeading) + kLineEnd);
    if (NamedMutexExists(kGameClientMutexName)) {
        AppendText(text, LoadResString(kStringClientRunning) + kLineEnd);
    }
    // The player reads from the heading down: the error lines must not scroll it away.
    const LRESULT first_line = SendMessageW(text, EM_GETFIRSTVISIBLELINE, 0, 0);
    std::wstring lines;
    for (const std::wstring& error : errors_) lines += error + kLineEnd;
    if (server_ip_line_) lines += kServerIpLine;
    const LRESULT before = SendMessageW(text, WM_GETTEXTLENGTH, 0, 0);
    AppendText(text, lines + (server_ip_line_ ? kLineEnd : L""));
    server_ip_at_ = before + LRESULT(lines.size());
    const LRESULT now_first = SendMessageW(text, EM_GETFIRSTVISIBLELINE, 0, 0);
    SendMessageW(text, EM_LINESCROLL, 0, first_line - now_first);

    // The title shows its address when the lookup answers.
    SetWindowTextW(dialog, (LoadResString(kStringUpdateFailed) + L"\n").c_str());
    UrlEndpoint endpoint;
    if (SplitUrl(file_list_url_, &endpoint) && !endpoint.host.empty())
        ResolveHostIpLater(endpoint.host, dialog, kMessageAddressResolved, kTitleAddress, resolve_);
    if (server_ip_line_ && !server_ip_host_.empty())
        ResolveHostIpLater(server_ip_host_, dialog, kMessageAddressResolved, kServerIpAddress, resolve_);
    BringWindowToTop(dialog);
}

void ErrorResultDlg::OnAddressResolved(WPARAM tag, std::unique_ptr<std::wstring> address) {
    HWND dialog = Handle();
    if (tag == kTitleAddress) {
        SetWindowTextW(dialog, (LoadResString(kStringUpdateFailed) + L"\n" + *address).c_str());
        return;
    }
    if (address->empty()) return;
    // Inserted where the line ends, leaving the player's selection and scroll as they are.
    HWND text = GetDlgItem(dialog, kErrorReportText);
    DWORD start = 0, end = 0;
    SendMessageW(text, EM_GETSEL, WPARAM(&start), LPARAM(&end));
    const LRESULT first_line = SendMessageW(text, EM_GETFIRSTVISIBLELINE, 0, 0);
    SendMessageW(text, EM_SETSEL, WPARAM(server_ip_at_), LPARAM(server_ip_at_));
    SendMessageW(text, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(address->c_str()));
    SendMessageW(text, EM_SETSEL, WPARAM(start), LPARAM(end));
    const LRESULT now_first = SendMessageW(text, EM_GETFIRSTVISIBLELINE, 0, 0);
    SendMessageW(text, EM_LINESCROLL, 0, first_line - now_first);
}

void ErrorResultDlg::Layout(int width, int height) {
    HWND dialog = Handle();
    HWND text = GetDlgItem(dialog, kErrorReportText);
    HWND button = GetDlgItem(dialog, kButtonPatchDownload);
    if (!text || !button) return;
    RECT button_rect = ChildRect(dialog, button);
    const int button_width = button_rect.right - button_rect.left;
    const int button_height = button_rect.bottom - button_rect.top;
    const int text_height = height - text_bottom_margin_;
    MoveWindow(text, 0, 0, width, text_height > 0 ? text_height : 0, TRUE);
    SetWindowPos(button, nullptr, width - button_right_margin_ - button_width,
                 height - button_bottom_margin_ - button_height, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(button, nullptr, TRUE);
}

INT_PTR ErrorResultDlg::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG:
        OnInit();
        // Focus the text without the dialog manager's select-all, which would paint the
        // whole report highlighted.
        SetFocus(GetDlgItem(Handle(), kErrorReportText));
        SendDlgItemMessageW(Handle(), kErrorReportText, EM_SETSEL, 0, 0);
        return FALSE;
    case kMessageAddressResolved:
        OnAddressResolved(wparam, TakeResolvedIp(lparam));
        return TRUE;
    case WM_DESTROY: {
        // Answers already posted would be lost with the window, and their texts with them.
        MSG posted;
        while (PeekMessageW(&posted, Handle(), kMessageAddressResolved, kMessageAddressResolved, PM_REMOVE))
            TakeResolvedIp(posted.lParam);
        return FALSE;
    }
    case WM_SIZE:
        if (wparam != SIZE_MINIMIZED) Layout(LOWORD(lparam), HIWORD(lparam));
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case kButtonPatchDownload:
            if (HIWORD(wparam) != BN_CLICKED) return FALSE;
            PostLauncherReport(L"click_patchs", L"");
            if (open_page_) open_page_(patch_page_url_);
            return TRUE;
        case IDOK:
        case IDCANCEL:
            EndDialog(Handle(), LOWORD(wparam));
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

}  // namespace velm
