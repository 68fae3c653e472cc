#pragma once
#include <windows.h>

#include <string>

namespace velm {

// A message box owned by the registered main window while it exists, else by the active
// window. A null caption gives the system's default title.
int ShowMessage(const std::wstring& text, const wchar_t* caption, UINT style);

}  // namespace velm
