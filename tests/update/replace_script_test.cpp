#include "update/replace_script.h"

#include <gtest/gtest.h>

namespace velm {
namespace {

TEST(ReplaceScript, IsByteExactWithQuotedPathsEvenWithBlanks) {
    const std::string path = "C:\\Program Files\\Emberly\\VelmLauncher.exe";
    const std::string expected =
        "@echo off\r\n"
        ":a\r\n"
        " del /f \"C:\\Program Files\\Emberly\\VelmLauncher.exe\"\r\n"
        "if exist \"C:\\Program Files\\Emberly\\VelmLauncher.exe\" goto a\r\n"
        "move tmp\\VelmLauncher.ex_ \"C:\\Program Files\\Emberly\\VelmLauncher.exe\" \r\n"
        "start \"\" \"C:\\Program Files\\Emberly\\VelmLauncher.exe\"\r\n"
        "del %0";
    EXPECT_EQ(ReplaceScriptText(path), expected);
    // GBK bytes of a Chinese folder name pass through untouched.
    const std::string gbk = "D:\\\xD3\xCE\xCF\xB7\\VelmLauncher.exe";
    EXPECT_NE(ReplaceScriptText(gbk).find(" del /f \"" + gbk + "\"\r\n"), std::string::npos);
}

}  // namespace
}  // namespace velm
