#pragma once
// The simple HTTP GET: one blocking request on the caller's thread, for small texts
// (the server list, the file list's companion hash). Failures are logged; the caller
// decides whether to retry.
#include <string>

namespace velm {

// Bodies larger than this are refused: both texts are a few kilobytes at most.
inline constexpr size_t kHttpGetMaxBytes = 8u << 20;

// 1 with the body's bytes up to its first zero byte (the server list arrives in the
// system's ANSI code page), 0 on failure (the text is then left as it was).
int GetHttpBytes(const std::wstring& url, std::string* text);
// 1 with the body read as UTF-16LE text up to its first zero character, 0 on failure.
int GetHttpText(const std::wstring& url, std::wstring* text);

}  // namespace velm
