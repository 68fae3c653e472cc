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

}  // namespace
}  // namespace velm
