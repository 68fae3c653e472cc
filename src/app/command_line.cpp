#include "app/command_line.h"

#include "common/text.h"

namespace velm {

bool FindSwitch(const std::wstring& command_line, const std::wstring& name) {
    return command_line.find(name) != std::wstring::npos;
}

std::wstring GetSwitchValue(const std::wstring& command_line, const std::wstring& name) {
    // Upper-casing keeps every position, so offsets in the copy are offsets in the original.
    size_t at = AsciiUpper(command_line).find(AsciiUpper(name));
    if (at == std::wstring::npos) return L"";
    size_t open = command_line.find(L'"', at + name.size());
    if (open == std::wstring::npos) return L"";
    size_t close = command_line.find(L'"', open + 1);
    if (close == std::wstring::npos) return L"";
    return command_line.substr(open + 1, close - open - 1);
}

}  // namespace velm
