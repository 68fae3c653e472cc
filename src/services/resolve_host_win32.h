#pragma once
// The address of a host as shown to the player next to a failed update.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>

namespace velm {

// The first IPv4 address the system resolver gives for the host, as dotted text; empty
// when the name has none. Winsock must have been started (start-up does this before
// anything else). Blocks for as long as the resolver takes: never call it on a window's
// thread, use ResolveHostIpLater there.
std::wstring ResolveHostIp(const std::wstring& host);

using HostResolver = std::function<std::wstring(const std::wstring& host)>;

// Resolves the host on a thread of its own and posts the answer to the window as
// message (wparam = tag, lparam = the text, which the window takes with TakeResolvedIp).
// A lookup cannot be cancelled and nothing waits for it: the thread owns itself and
// touches nothing but its own copy of the host and the posted text (dropped when the
// window has gone). False when the thread could not be started.
bool ResolveHostIpLater(const std::wstring& host, HWND window, UINT message, WPARAM tag,
                        HostResolver resolve = ResolveHostIp);
// The text of a message posted by ResolveHostIpLater; its receiver owns it.
std::unique_ptr<std::wstring> TakeResolvedIp(LPARAM lparam);

}  // namespace velm
