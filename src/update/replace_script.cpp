#include "update/replace_script.h"

namespace velm {

std::string ReplaceScriptText(const std::string& launcher_path) {
    // No lead or trail byte of the code pages in use is 0x25, so doubling bytes is safe.
    std::string path;
    for (char c : launcher_path) {
        path += c;
        if (c == '%') path += '%';
    }
    const std::string launcher = "\"" + path + "\"";
    const std::string old_copy = "\"" + path + ".old\"";
    const std::string pause = "ping -n 2 127.0.0.1 >nul\r\n";
    return "@echo off\r\n"
           "copy /y " + launcher + " " + old_copy + " >nul 2>&1\r\n"
           "if not exist " + old_copy + " goto done\r\n"
           "set tries=0\r\n"
           ":wait\r\n"
           "del /f " + launcher + " >nul 2>&1\r\n"
           "if not exist " + launcher + " goto swap\r\n"
           "set /a tries+=1\r\n"
           "if %tries% geq " + std::to_string(kReplaceWaitTries) + " goto keep\r\n" +
           pause +
           "goto wait\r\n"
           ":swap\r\n"
           "set tries=0\r\n"
           ":move\r\n"
           "move /y tmp\\VelmLauncher.ex_ " + launcher + " >nul 2>&1\r\n"
           "if exist " + launcher + " goto run\r\n"
           "set /a tries+=1\r\n"
           "if %tries% geq " + std::to_string(kReplaceMoveTries) + " goto back\r\n" +
           pause +
           "goto move\r\n"
           ":back\r\n"
           "move /y " + old_copy + " " + launcher + " >nul 2>&1\r\n"
           "if not exist " + launcher + " copy /y " + old_copy + " " + launcher + " >nul 2>&1\r\n"
           ":run\r\n"
           "if exist " + launcher + " start \"\" " + launcher + "\r\n"
           ":keep\r\n"
           "if exist " + launcher + " del /f " + old_copy + " >nul 2>&1\r\n"
           ":done\r\n"
           "del %0\r\n";
}

}  // namespace velm
