#include "update/replace_script.h"

namespace velm {

std::string ReplaceScriptText(const std::string& launcher_path_ansi) {
    const std::string quoted = "\"" + launcher_path_ansi + "\"";
    return "@echo off\r\n"
           ":a\r\n"
           " del /f " + quoted + "\r\n"
           "if exist " + quoted + " goto a\r\n"
           "move tmp\\VelmLauncher.ex_ " + quoted + " \r\n"
           "start \"\" " + quoted + "\r\n"
           "del %0";
}

}  // namespace velm
