#pragma once
// The one check of a name that the launcher is told to write, whoever names it: the file
// list, an update package's directory or a script argument. Names are relative to the
// installation folder and start with a backslash.

#include <cstddef>
#include <string>

namespace velm {

constexpr size_t kMaxEntryNameChars = 1024;

// True for a relative name the launcher may write: starts with "\\", no empty, "." or
// ".." component, no drive, no characters Windows forbids in names, no device name (the
// superscript-digit ports included), no component in the form of a short (8.3) alias.
bool IsSafeEntryName(const std::wstring& name);

}  // namespace velm
