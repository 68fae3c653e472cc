#pragma once
// The simple HTTP GET for small texts (the server list, the file list's companion hash):
// one request on the caller's thread. Failures are logged; the caller decides whether to
// retry.
//
// The request runs in WinINet's asynchronous mode (all GETs share one session), so the
// caller's thread only ever waits on events: a cancel event set by another thread ends it
// at once, and a server that accepts and then says nothing ends it after the stall bound.
// A blocking request could only be ended by killing the thread inside WinINet, with its
// locks held.
#include <windows.h>

#include <string>

namespace velm {

// Bodies larger than this are refused: both texts are a few kilobytes at most.
inline constexpr size_t kHttpGetMaxBytes = 8u << 20;
// Longest wait for any one step (connection and answer, each read) before giving up.
inline constexpr DWORD kHttpGetStallMs = 20000;

struct HttpGetControl {
    // An event (manual reset) that another thread sets to end the request: the call then
    // returns 0 at once. Null: only the stall bound ends a silent server.
    HANDLE cancel = nullptr;
    DWORD stall_ms = kHttpGetStallMs;
};

// True with the body's bytes up to its first zero byte (the server list arrives in the
// system's ANSI code page); false on failure or cancel (the text is then left as it was).
bool GetHttpBytes(const std::wstring& url, std::string* text, const HttpGetControl& control = {});
// True with the body read as UTF-16LE text up to its first zero character.
bool GetHttpText(const std::wstring& url, std::wstring* text, const HttpGetControl& control = {});

}  // namespace velm
