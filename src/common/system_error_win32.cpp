#include "common/system_error_win32.h"

#include "common/text.h"

namespace velm {

std::wstring SystemErrorText(DWORD code) {
    wchar_t message[1024] = {};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  message, 1024, nullptr);
    if (length == 0) return L"错误码：未知错误";
    return FormatText(L"错误码：(%d)%ls", int(code), message);
}

}  // namespace velm
