#pragma once
// The news page of the main window: the system's web browser control hosted in place in a
// rectangle of a window, without a class library. The page is a courtesy to the player:
// when the control cannot be created (a system without a browser engine) the area stays
// as the window painted it and nothing else changes.
//
// UI thread only; the thread must have initialised OLE.
#include <windows.h>

#include <string>

#include "common/com_win32.h"

namespace velm {

class BrowserSite;

class WebBrowserHost {
public:
    WebBrowserHost();
    ~WebBrowserHost();
    WebBrowserHost(const WebBrowserHost&) = delete;
    WebBrowserHost& operator=(const WebBrowserHost&) = delete;

    // Places the control over area (client coordinates of parent). False when there is
    // no browser control to host.
    bool Create(HWND parent, const RECT& area);
    // Starts loading the page; returns at once. False without a control or for an empty
    // address.
    bool Navigate(const std::wstring& url);
    // Closes the control; also done by the destructor. The parent must still exist.
    void Destroy();
    bool Active() const { return bool(site_); }

private:
    ComPtr<BrowserSite> site_;
};

}  // namespace velm
