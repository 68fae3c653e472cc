#include "app/command_line.h"

#include <gtest/gtest.h>

#include "app/process_settings.h"

namespace velm {
namespace {

TEST(FindSwitch, IsACaseSensitiveSubstringMatch) {
    struct Case {
        const wchar_t* command_line;
        const wchar_t* name;
        bool found;
    } cases[] = {
        {L"-SHOWDEBUG", L"-SHOWDEBUG", true},
        {L"a -SHOWDEBUGX b", L"-SHOWDEBUG", true},  // no word boundary needed
        {L"-showdebug", L"-SHOWDEBUG", false},      // flags only in upper case
        {L"", L"-NOSELFUPDATE", false},
    };
    for (const auto& c : cases) EXPECT_EQ(FindSwitch(c.command_line, c.name), c.found) << c.command_line;
}

TEST(GetSwitchValue, TakesTheNextQuotedTextInAnyLetterCase) {
    struct Case {
        const wchar_t* command_line;
        const wchar_t* name;
        const wchar_t* value;
    } cases[] = {
        {L"-FILELISTURL \"http://h/Fl.xml\"", L"-FILELISTURL", L"http://h/Fl.xml"},
        {L"-filelisturl \"http://h/Fl.xml\"", L"-FILELISTURL", L"http://h/Fl.xml"},  // value keeps its case
        {L"-FileListUrl=xyz\"Value\" tail", L"-FILELISTURL", L"Value"},  // text before the quote skipped
        {L"-FILELISTURL http://h/fl.xml", L"-FILELISTURL", L""},          // no quotes
        {L"-FILELISTURL \"\"", L"-FILELISTURL", L""},                     // empty quotes
        {L"-FILELISTURL \"open", L"-FILELISTURL", L""},                   // no closing quote
        {L"-OTHER \"x\"", L"-FILELISTURL", L""},                          // absent
        {L"-URLROOT_ORIGINAL \"a\" -URLROOT_REPLACEMENT \"b\"", L"-URLROOT_ORIGINAL", L"a"},
        {L"-URLROOT_ORIGINAL \"a\" -URLROOT_REPLACEMENT \"b\"", L"-URLROOT_REPLACEMENT", L"b"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetSwitchValue(c.command_line, c.name), c.value) << c.command_line;
}

TEST(ProcessSettings, SwitchesAndPackageMarkerSetTheModes) {
    ProcessSettings normal;
    ApplySwitches(L"-NOSELFUPDATE -filelisturl \"http://x/f.xml\"", normal);
    EXPECT_EQ(normal.self_update, 0);
    EXPECT_EQ(normal.package_mode, 0);
    EXPECT_EQ(normal.file_list_url_override, L"http://x/f.xml");

    ProcessSettings test_source;
    ApplySwitches(L"-TESTDOWNLOADSOURCE", test_source);
    EXPECT_EQ(test_source.self_update, 0);
    EXPECT_EQ(test_source.package_mode, 1);

    struct MarkerCase {
        int64_t marker;
        int package_mode;
    } markers[] = {{0, 0}, {-5, 0}, {1, 1}, {123456789012LL, 1}};
    for (const auto& m : markers) {
        ProcessSettings settings;
        ApplyPackageMarker(m.marker, settings);
        EXPECT_EQ(settings.package_mode, m.package_mode) << m.marker;
        EXPECT_EQ(settings.self_update, m.package_mode ? 0 : 1) << m.marker;
        EXPECT_EQ(settings.package_marker, m.marker);
    }
}

TEST(ProcessSettings, MaxRateSwitchWinsOverTheIniValue) {
    struct Case {
        const wchar_t* command_line;
        const wchar_t* ini_value;
        int64_t kib;
    } cases[] = {
        {L"", L"", 0},                                   // neither: no cap
        {L"", L"512", 512},                              // the INI file alone
        {L"", L" 512 ", 512},                            // blanks around the value
        {L"-MAXRATE \"2048\"", L"512", 2048},             // the switch wins
        {L"-maxrate=\"2048\"", L"", 2048},                // any letter case, text before the quote
        {L"-MAXRATE \"0\"", L"512", 0},                   // 0 from the switch lifts the INI cap
        {L"-MAXRATE \"fast\"", L"512", 512},              // not a rate: the INI file decides
        {L"-MAXRATE \"-5\"", L"", 0},                     // no sign
        {L"-MAXRATE 2048", L"", 0},                       // no quotes, no value
        {L"", L"2k", 0},                                 // trailing text
        {L"", L"1073741824", 1073741824},                // the largest cap
        {L"", L"1073741825", 0},                         // beyond it
        {L"", L"99999999999999999999999", 0},            // would overflow
    };
    for (const auto& c : cases) {
        ProcessSettings settings;
        ApplySwitches(c.command_line, settings);
        EXPECT_EQ(MaxRateKibFor(settings, c.ini_value), c.kib) << c.command_line << " / " << c.ini_value;
    }
}

}  // namespace
}  // namespace velm
