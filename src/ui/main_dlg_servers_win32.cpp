// The main window's realm drop-down and server list: filled from the store whenever the
// refresh rebuilds it, the player's choice passed back to the store, and the hints that
// blink until a realm and a server are chosen.
#include "ui/main_dlg_win32.h"

#include <vector>

#include "ui/main_dlg_parts_win32.h"
#include "ui/ui_ids.h"

namespace velm {

using namespace main_dlg;

namespace {

std::wstring WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(size_t(length) + 1, L'\0');
    text.resize(size_t(GetWindowTextW(window, text.data(), length + 1)));
    return text;
}

}  // namespace

void CMainDlg::OnServerListRebuilt(size_t) {
    if (window_) PostMessageW(window_, UM_SERVER_LIST_REBUILT, 0, 0);
}

void CMainDlg::ShowChoiceHints() {
    ShowRealmHint(!RealmChosen());
    ShowServerHints(!ServerChosen());
}

void CMainDlg::FillListsFromStore() {
    HWND realms = Control(kMainRealmList);
    RememberedChoice choice;
    {
        ServerListStore::Reader reader = store_.Read();
        choice = reader.choice();
        SendMessageW(realms, CB_RESETCONTENT, 0, 0);
        const std::vector<RealmEntry>& entries = reader.model().realms();
        for (size_t i = 0; i < entries.size(); ++i) {
            const LRESULT item = SendMessageW(realms, CB_ADDSTRING, 0, LPARAM(entries[i].name.c_str()));
            if (item >= 0) SendMessageW(realms, CB_SETITEMDATA, WPARAM(item), LPARAM(i));
        }
    }
    realm_index_ = choice.realm_index;
    SendMessageW(realms, CB_SETCURSEL, WPARAM(realm_index_), 0);
    ShowRealmHint(realm_index_ < 0);
    FillServerList(choice.server_index);
    SetTransparentText(kMainRealmCopy, realm_index_ >= 0 ? WindowText(realms) : L"");
    UpdateSelectionText();
    InvalidateRect(realms, nullptr, TRUE);
    // The restored choice may have settled what the hints of a start attempt asked for.
    ShowServerHints(server_hints_wanted_ ? !ServerChosen() : false);
}

void CMainDlg::FillServerList(int server_to_select) {
    HWND list = Control(kMainServerList);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    ServerListStore::Reader reader = store_.Read();
    const std::vector<RealmEntry>& realms = reader.model().realms();
    if (realm_index_ < 0 || size_t(realm_index_) >= realms.size()) return;
    const std::vector<ServerRecord>& servers = realms[size_t(realm_index_)].servers;
    for (size_t i = 0; i < servers.size(); ++i) {
        const LRESULT item = SendMessageW(list, LB_ADDSTRING, 0, LPARAM(servers[i].server_name.c_str()));
        if (item >= 0) SendMessageW(list, LB_SETITEMDATA, WPARAM(item), LPARAM(i));
    }
    if (server_to_select >= 0) SendMessageW(list, LB_SETCURSEL, WPARAM(server_to_select), 0);
    InvalidateRect(list, nullptr, TRUE);
}

ServerRecord CMainDlg::ServerOfChosenRealm(size_t server) {
    ServerListStore::Reader reader = store_.Read();
    const std::vector<RealmEntry>& realms = reader.model().realms();
    if (realm_index_ < 0 || size_t(realm_index_) >= realms.size()) return ServerRecord();
    const std::vector<ServerRecord>& servers = realms[size_t(realm_index_)].servers;
    return server < servers.size() ? servers[server] : ServerRecord();
}

void CMainDlg::OnRealmChange() {
    HWND realms = Control(kMainRealmList);
    const LRESULT selected = SendMessageW(realms, CB_GETCURSEL, 0, 0);
    realm_index_ = selected == CB_ERR ? -1 : int(SendMessageW(realms, CB_GETITEMDATA, WPARAM(selected), 0));
    store_.SelectRealm(realm_index_);
    ShowRealmHint(realm_index_ < 0);
    FillServerList(-1);
    SetTransparentText(kMainRealmCopy, WindowText(realms));
    UpdateSelectionText();
    InvalidateRect(realms, nullptr, TRUE);
    ShowServerHints(server_hints_wanted_ ? !ServerChosen() : false);
}

void CMainDlg::OnServerChange() {
    HWND list = Control(kMainServerList);
    const LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
    const int server = selected == LB_ERR ? -1 : int(SendMessageW(list, LB_GETITEMDATA, WPARAM(selected), 0));
    store_.SelectServer(server);
    ShowServerHints(!ServerChosen());
    SetTransparentText(kMainOnlineVersion, L"线上版本" + store_.ChosenServer().client_version);
    InvalidateRect(list, nullptr, FALSE);
    UpdateSelectionText();
}

void CMainDlg::UpdateSelectionText() { SetTransparentText(kMainSelection, store_.ChosenServer().server_name); }

bool CMainDlg::RealmChosen() const {
    HWND realms = Control(kMainRealmList);
    return SendMessageW(realms, CB_GETCOUNT, 0, 0) > 0 && SendMessageW(realms, CB_GETCURSEL, 0, 0) != CB_ERR;
}

bool CMainDlg::ServerChosen() const {
    HWND list = Control(kMainServerList);
    return SendMessageW(list, LB_GETCOUNT, 0, 0) > 0 && SendMessageW(list, LB_GETCURSEL, 0, 0) != LB_ERR;
}

void CMainDlg::ShowRealmHint(bool show) { realm_hint_.Show(show); }

// The server hints only make sense once there is a realm whose servers they point at.
void CMainDlg::ShowServerHints(bool wanted) {
    server_hints_wanted_ = wanted;
    const bool show = wanted && RealmChosen();
    server_arrow_hint_.Show(show);
    server_frame_hint_.Show(show);
}

}  // namespace velm
