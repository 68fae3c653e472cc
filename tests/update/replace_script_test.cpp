#include "update/replace_script.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

// The swap keeps a launcher in place at every step: the old one is copied aside before it
// is deleted, both loops are bounded, a move that never succeeds puts the copy back.
TEST(ReplaceScript, IsByteExactWithQuotedPathsEvenWithBlanks) {
    const std::string expected =
        "@echo off\r\n"
        "copy /y \"C:\\Program Files\\Emberly\\VelmLauncher.exe\" \"C:\\Program Files\\Emberly\\VelmLauncher.exe.old\" >nul 2>&1\r\n"
        "if not exist \"C:\\Program Files\\Emberly\\VelmLauncher.exe.old\" goto done\r\n"
        "set tries=0\r\n"
        ":wait\r\n"
        "del /f \"C:\\Program Files\\Emberly\\VelmLauncher.exe\" >nul 2>&1\r\n"
        "if not exist \"C:\\Program Files\\Emberly\\VelmLauncher.exe\" goto swap\r\n"
        "set /a tries+=1\r\n"
        "if %tries% geq 120 goto keep\r\n"
        "ping -n 2 127.0.0.1 >nul\r\n"
        "goto wait\r\n"
        ":swap\r\n"
        "set tries=0\r\n"
        ":move\r\n"
        "move /y tmp\\VelmLauncher.ex_ \"C:\\Program Files\\Emberly\\VelmLauncher.exe\" >nul 2>&1\r\n"
        "if exist \"C:\\Program Files\\Emberly\\VelmLauncher.exe\" goto run\r\n"
        "set /a tries+=1\r\n"
        "if %tries% geq 20 goto back\r\n"
        "ping -n 2 127.0.0.1 >nul\r\n"
        "goto move\r\n"
        ":back\r\n"
        "move /y \"C:\\Program Files\\Emberly\\VelmLauncher.exe.old\" \"C:\\Program Files\\Emberly\\VelmLauncher.exe\" >nul 2>&1\r\n"
        "if not exist \"C:\\Program Files\\Emberly\\VelmLauncher.exe\" copy /y \"C:\\Program Files\\Emberly\\VelmLauncher.exe.old\" \"C:\\Program Files\\Emberly\\VelmLauncher.exe\" >nul 2>&1\r\n"
        ":run\r\n"
        "if exist \"C:\\Program Files\\Emberly\\VelmLauncher.exe\" start \"\" \"C:\\Program Files\\Emberly\\VelmLauncher.exe\"\r\n"
        ":keep\r\n"
        "if exist \"C:\\Program Files\\Emberly\\VelmLauncher.exe\" del /f \"C:\\Program Files\\Emberly\\VelmLauncher.exe.old\" >nul 2>&1\r\n"
        ":done\r\n"
        "del %0\r\n";
    EXPECT_EQ(ReplaceScriptText("C:\\Program Files\\Emberly\\VelmLauncher.exe"), expected);
}

TEST(ReplaceScript, DoublesPercentAndPassesCodePageBytesThrough) {
    // The command interpreter would expand "%PATH%" inside the quotes.
    const std::string percent = ReplaceScriptText("D:\\100% %PATH%\\VelmLauncher.exe");
    EXPECT_NE(percent.find("del /f \"D:\\100%% %%PATH%%\\VelmLauncher.exe\" "), std::string::npos);
    EXPECT_EQ(percent.find("100% "), std::string::npos);
    // GBK bytes of a Chinese folder name pass through untouched.
    const std::string gbk = "D:\\\xD3\xCE\xCF\xB7\\VelmLauncher.exe";
    EXPECT_NE(ReplaceScriptText(gbk).find("del /f \"" + gbk + "\" "), std::string::npos);
}

}  // namespace
}  // namespace velm
