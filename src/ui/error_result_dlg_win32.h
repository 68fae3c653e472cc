#pragma once
// The list of errors of a failed update run ("更新失败"): a heading, a warning when the
// game client is running, every error line, the file list host's address in the title
// and a button to the manual patch download page. Resizable. UI thread only.
#include <functional>
#include <string>
#include <vector>

#include "services/resolve_host_win32.h"
#include "ui/modal_dialog_win32.h"

namespace velm {

// Held by the game client while it runs.
inline constexpr wchar_t kGameClientMutexName[] = L"HarrowClient310110";

class ErrorResultDlg : public ModalDialog {
public:
    using PageOpener = std::function<void(const std::wstring& url)>;

    // errors: a copy of the update engine's list. The addresses are the built-in ones:
    // the file list (its host is resolved for the title) and the manual patch page.
    explicit ErrorResultDlg(std::vector<std::wstring> errors);
    ErrorResultDlg(std::vector<std::wstring> errors, std::wstring file_list_url,
                   std::wstring patch_page_url);

    // How the patch page is opened: the default browser unless replaced.
    void SetPageOpener(PageOpener opener) { open_page_ = std::move(opener); }
    // Adds the line "Server IP: " after the errors, completed with the host's address
    // when the lookup answers (the host may be empty: the line then stays as it is).
    void AddServerIpLine(std::wstring host) {
        server_ip_line_ = true;
        server_ip_host_ = std::move(host);
    }
    // How hosts are resolved: the system resolver unless replaced. Lookups run on threads
    // of their own, so the dialog opens and answers at once however long they take.
    void SetResolver(HostResolver resolve) { resolve_ = std::move(resolve); }

private:
    INT_PTR HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
    void OnInit();
    void Layout(int width, int height);
    void OnAddressResolved(WPARAM tag, std::unique_ptr<std::wstring> address);

    std::vector<std::wstring> errors_;
    std::wstring file_list_url_;
    std::wstring patch_page_url_;
    PageOpener open_page_;
    HostResolver resolve_;
    bool server_ip_line_ = false;
    std::wstring server_ip_host_;
    // Where the Server IP line's address goes in the text, in characters.
    LRESULT server_ip_at_ = 0;
    // The template's margins, so resizing keeps the button row in view.
    int button_right_margin_ = 0;
    int button_bottom_margin_ = 0;
    int text_bottom_margin_ = 0;
};

// True when a named mutex of that name exists (some process holds it open).
bool NamedMutexExists(const wchar_t* name);

}  // namespace velm
