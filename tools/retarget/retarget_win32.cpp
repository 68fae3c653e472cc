#include "tools/retarget/retarget_win32.h"

#include <windows.h>

#include "common/system_error_win32.h"
#include "common/text.h"

namespace velm {

bool RetargetExecutable(const std::wstring& source, const std::wstring& target,
                        const std::map<int, std::wstring>& texts, std::wstring& error) {
    if (!CopyFileW(source.c_str(), target.c_str(), FALSE)) {
        error = FormatText(L"cannot copy %ls to %ls: %ls", source.c_str(), target.c_str(),
                           SystemErrorText(GetLastError()).c_str());
        return false;
    }
    HANDLE update = BeginUpdateResourceW(target.c_str(), FALSE);
    if (!update) {
        error = FormatText(L"cannot open the resources of %ls: %ls", target.c_str(),
                           SystemErrorText(GetLastError()).c_str());
        return false;
    }
    for (const auto& [id, text] : texts) {
        // The texts are stored as language-neutral resources: the same language replaces
        // the built text instead of adding a second one beside it.
        if (!UpdateResourceW(update, L"CONFIG_TEXT", MAKEINTRESOURCEW(id),
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                             text.empty() ? nullptr : const_cast<wchar_t*>(text.data()),
                             DWORD(text.size() * sizeof(wchar_t)))) {
            error = FormatText(L"cannot replace text %d: %ls", id, SystemErrorText(GetLastError()).c_str());
            EndUpdateResourceW(update, TRUE);
            return false;
        }
    }
    if (!EndUpdateResourceW(update, FALSE)) {
        error = FormatText(L"cannot write the resources of %ls: %ls", target.c_str(),
                           SystemErrorText(GetLastError()).c_str());
        return false;
    }
    return true;
}

}  // namespace velm
