#include <gtest/gtest.h>

#include "common/text.h"
#include "formats/file_list.h"

namespace velm {
namespace {

// Every name a file list, a script or a package hands the launcher is joined to the
// installation folder; none may reach outside it or name a device.
TEST(IsSafeEntryName, RejectsNamesThatLeaveTheFolderOrNameDevices) {
    const wchar_t* rejected[] = {
        L"\\..\\x",          L"\\a/../../x",       L"C:\\x",          L"\\C:x",
        L"\\\\srv\\s\\x",    L"\\\\?\\C:\\x",      L"/x",             L"\\x::$DATA",
        L"\\CON",            L"\\nul.txt",         L"\\Data\\aux",    L"\\com1.log",
        L"\\LPT9",           L"\\CON .txt",        L"\\conout$",      L"\\x.",
        L"\\x ",             L"\\a\\.\\b",         L"\\a/b",          L"{DESKTOP}\\..\\..\\x",
        L"\\",               L"",                  L"\\a\\\\b",       L"\\a\x01" L"b",
        L"\\a*",             L"\\a?b",             L"\\a|b",          L"\\a<b>",
        // ports with superscript digits, and short (8.3) aliases of other names
        L"\\COM\u00B9",        L"\\lpt\u00B2.txt",     L"\\Data\\Com\u00B3",  L"\\VELMLA~1.EXE",
        L"\\velml~12.exe",    L"\\PROGRA~1\\x.dll",  L"\\DATA~1",        L"\\~1.txt",
    };
    for (const wchar_t* name : rejected) EXPECT_FALSE(IsSafeEntryName(name)) << WideToUtf8(name);
}

TEST(IsSafeEntryName, AcceptsOrdinaryClientNames) {
    const wchar_t* accepted[] = {
        L"\\VelmLauncher.exe", L"\\Binaries\\Win32\\Velm.exe", L"\\VelmGame\\Config\\DefaultGame.ini",
        L"\\数据\\地图.pak",    L"\\a.b.c",                    L"\\CONFIG.ini",
        L"\\COM10",            L"\\console.txt",              L"\\.hidden",
        L"\\COM\u00B9x",         L"\\a~b.txt",                  L"\\longname~1.txt",
        L"\\SAVE~1.tar.gz",     L"\\DATA~1.json",                L"\\notes~",
    };
    for (const wchar_t* name : accepted) EXPECT_TRUE(IsSafeEntryName(name)) << WideToUtf8(name);
    EXPECT_FALSE(IsSafeEntryName(L"\\" + std::wstring(kMaxNameChars, L'a')));
}

}  // namespace
}  // namespace velm
