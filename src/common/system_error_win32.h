#pragma once
// The system's text for an error code, captured where the failure happens.
#include <windows.h>

#include <string>

namespace velm {

// "错误码：(%d)%s" with the system's message in the user's language, or "错误码：未知错误"
// when the system has no message for the code.
std::wstring SystemErrorText(DWORD code);

}  // namespace velm
