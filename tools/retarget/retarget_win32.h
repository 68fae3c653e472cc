#pragma once
// Rewrites the built-in configuration texts of a built VelmLauncher.exe, so that one build
// can be pointed at other servers (an operator's own hosts, or loopback servers in tests
// and the demo) without compiling it again.
#include <map>
#include <string>

namespace velm {

// Copies source to target and replaces (or adds) each CONFIG_TEXT resource of texts in
// the copy; an empty text removes the resource, which the launcher reads as an empty text. False with a message when the copy or the resource update fails; the source
// is never changed.
bool RetargetExecutable(const std::wstring& source, const std::wstring& target,
                        const std::map<int, std::wstring>& texts, std::wstring& error);

}  // namespace velm
