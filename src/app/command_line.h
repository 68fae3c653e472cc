#pragma once
// The launcher's command-line switches. Flag switches are plain, case-sensitive substrings
// of the command line; value switches are found in any letter case and take the text
// between the next pair of double quotes.
#include <string>

namespace velm {

bool FindSwitch(const std::wstring& command_line, const std::wstring& name);

// Empty when the switch is absent, when no quoted value follows it, or when the quotes
// hold nothing.
std::wstring GetSwitchValue(const std::wstring& command_line, const std::wstring& name);

}  // namespace velm
