#pragma once
// The operator's script file for the file list's Script section. One command per line:
//
//   # comment
//   DELETE_FILE "VelmGame\old.dat"
//   CREATE_SHORTCUT VelmLauncher.exe "{DESKTOP}\Velm.lnk" "Velm Online"
//
// Arguments are separated by blanks; double quotes keep blanks inside one argument.
// The file is UTF-8.
#include "formats/file_list.h"

#include <filesystem>
#include <string>
#include <vector>

namespace velm::publish {

// Fails with the line number and reason for an unknown command, a wrong argument count
// or an unterminated quote (the launcher would silently ignore such a command).
bool ReadScriptFile(const std::filesystem::path& path, std::vector<ScriptCommand>& commands,
                    std::string& error);

// The same checks on commands read back from a file list.
bool CheckScriptCommand(const ScriptCommand& command, std::string& error);

}  // namespace velm::publish
