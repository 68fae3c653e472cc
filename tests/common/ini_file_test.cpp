#include "common/ini_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

#include "common/file_io.h"
#include "common/text.h"

namespace velm {
namespace {

IniDocument ParseText(const std::string& bytes) {
    IniDocument doc;
    EXPECT_EQ(doc.Parse(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), IniRead::kRead);
    return doc;
}

std::string Utf16File(const std::wstring& text) { return "\xFF\xFE" + WideToUtf16Le(text); }

std::string ReadBytes(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(ReadWholeFile(path, bytes, 1 << 24));
    return std::string(bytes.begin(), bytes.end());
}

const char kSample[] =
    "; settings of the game\r\n"
    "[Core]\r\n"
    "Paths = ..\\Content \r\n"
    "Quoted=\"  spaced  \"\r\n"
    "Single='x'\r\n"
    "Empty=\r\n"
    "Dup=first\r\n"
    "Dup=second\r\n"
    ";Hidden=comment\r\n"
    "NoEquals\r\n"
    "\r\n"
    "  [ Sound ]  \r\n"
    "\tVolume\t=\t0.8\t\r\n"
    "Key=in sound\r\n"
    "[Core]\r\n"
    "Late=in the second core\r\n";

TEST(IniFile, ReadsLikeTheProfileFunctions) {
    IniDocument doc = ParseText(kSample);
    struct Case {
        const wchar_t *section, *key;
        bool found;
        const wchar_t* value;
    } cases[] = {
        {L"Core", L"Paths", true, L"..\\Content"},
        {L"CORE", L"paths", true, L"..\\Content"},
        {L"core", L"Quoted", true, L"  spaced  "},
        {L"Core", L"Single", true, L"x"},
        {L"Core", L"Empty", true, L""},
        {L"Core", L"Dup", true, L"first"},
        {L"Core", L"Hidden", false, L""},
        {L"Core", L";Hidden", false, L""},
        {L"Core", L"NoEquals", false, L""},
        {L"Core", L"Key", false, L""},
        {L"Sound", L"Volume", true, L"0.8"},
        {L"sound", L"KEY", true, L"in sound"},
        {L"Sound", L"Paths", false, L""},
        {L"Missing", L"Paths", false, L""},
        {L"Core", L"Late", false, L""},  // only the first section of a name is read
    };
    for (const Case& c : cases) {
        std::wstring value = L"untouched";
        EXPECT_EQ(doc.Find(c.section, c.key, value), c.found) << WideToUtf8(c.key);
        if (c.found) {
            EXPECT_EQ(value, c.value) << WideToUtf8(c.key);
        }
    }
    EXPECT_EQ(doc.Get(L"Core", L"Missing", L"FALSE"), L"FALSE");
    EXPECT_EQ(doc.Get(L"Core", L"Paths", L"", 3), L"..\\");
    EXPECT_EQ(doc.Get(L"Core", L"Missing", L"fallback", 4), L"fall");
}

TEST(IniFile, WritesReplaceOneLineAndKeepEverythingElse) {
    struct Case {
        const char* name;
        const wchar_t *section, *key, *value;
        std::string from, to;  // the one change expected in the serialized text
    } cases[] = {
        {"existing key in place", L"core", L"PATHS", L"x", "Paths = ..\\Content \r\n",
         "Paths=x\r\n"},
        {"duplicate key: the first", L"Core", L"Dup", L"new", "Dup=first\r\n", "Dup=new\r\n"},
        {"missing key after the section's last line", L"Core", L"Added", L"1",
         "NoEquals\r\n\r\n", "NoEquals\r\nAdded=1\r\n\r\n"},
        {"missing key of an indented section", L"SOUND", L"Mute", L"true",
         "Key=in sound\r\n[Core]", "Key=in sound\r\nMute=true\r\n[Core]"},
        {"missing section at the end", L"New", L"K", L"v", "in the second core\r\n",
         "in the second core\r\n[New]\r\nK=v\r\n"},
        {"line breaks in a value cannot add lines", L"Core", L"Empty", L"a\r\nb=c",
         "Empty=\r\n", "Empty=a  b=c\r\n"},
    };
    for (const Case& c : cases) {
        IniDocument doc = ParseText(kSample);
        doc.Set(c.section, c.key, c.value);
        std::string expected = kSample;
        size_t at = expected.find(c.from);
        ASSERT_NE(at, std::string::npos) << c.name;
        expected.replace(at, c.from.size(), c.to);
        EXPECT_EQ(doc.Serialize(), expected) << c.name;
    }
}

TEST(IniFile, NewLinesFollowTheFileAndAMissingFinalLineEnd) {
    struct Case {
        std::string text, expected;
    } cases[] = {
        {"", "[S]\r\nk=v\r\n"},
        {"[S]\nother=1", "[S]\nother=1\nk=v\n"},
        {"[T]\nx=1", "[T]\nx=1\n[S]\nk=v\n"},
        {"[S]\r\nk=old", "[S]\r\nk=v"},
        {"[S]", "[S]\r\nk=v\r\n"},
    };
    for (const Case& c : cases) {
        IniDocument doc = ParseText(c.text);
        doc.Set(L"S", L"k", L"v");
        EXPECT_EQ(doc.Serialize(), c.expected) << c.text;
    }
}

TEST(IniFile, EachEncodingIsReadAndWrittenBackInItself) {
    const std::wstring text = L"[区]\r\n名字=紫禁之巅\r\nk=old\r\n";
    const std::string gbk_line = "name=\xD7\xCF\xBD\xFB\r\n";  // "紫禁" in code page 936
    struct Case {
        const char* name;
        std::string bytes;
        IniDocument::Encoding encoding;
        std::wstring chinese_value;  // what 名字 reads as
        std::string expected;        // after k=new
    } cases[] = {
        {"utf-16le", Utf16File(text), IniDocument::Encoding::kUtf16Le, L"紫禁之巅",
         Utf16File(L"[区]\r\n名字=紫禁之巅\r\nk=new\r\n")},
        {"utf-8 with mark", "\xEF\xBB\xBF" + WideToUtf8(text), IniDocument::Encoding::kUtf8,
         L"紫禁之巅", "\xEF\xBB\xBF" + WideToUtf8(L"[区]\r\n名字=紫禁之巅\r\nk=new\r\n")},
        {"utf-8", WideToUtf8(text), IniDocument::Encoding::kUtf8, L"紫禁之巅",
         WideToUtf8(L"[区]\r\n名字=紫禁之巅\r\nk=new\r\n")},
        {"code page bytes", "[S]\r\n" + gbk_line + "k=old\r\n", IniDocument::Encoding::kEightBit,
         L"", "[S]\r\n" + gbk_line + "k=new\r\n"},
        {"code page bytes after a utf-8 mark", "\xEF\xBB\xBF[S]\r\n" + gbk_line + "k=old\r\n",
         IniDocument::Encoding::kEightBit, L"", "\xEF\xBB\xBF[S]\r\n" + gbk_line + "k=new\r\n"},
    };
    for (const Case& c : cases) {
        IniDocument doc = ParseText(c.bytes);
        EXPECT_EQ(doc.encoding(), c.encoding) << c.name;
        EXPECT_EQ(doc.Serialize(), c.bytes) << c.name << ": unchanged text round-trips";
        if (!c.chinese_value.empty()) {
            EXPECT_EQ(doc.Get(L"区", L"名字", L""), c.chinese_value) << c.name;
        }
        doc.Set(c.encoding == IniDocument::Encoding::kEightBit ? L"S" : L"区", L"k", L"new");
        EXPECT_EQ(doc.Serialize(), c.expected) << c.name;
    }
    // Characters the 8-bit file cannot hold become "?" rather than other bytes.
    IniDocument doc = ParseText("[S]\r\n" + gbk_line);
    doc.Set(L"S", L"k", L"a紫b");
    EXPECT_EQ(doc.Serialize(), "[S]\r\n" + gbk_line + "k=a?b\r\n");
}

TEST(IniFile, RefusesWhatIsNotAnIniText) {
    struct Case {
        const char* name;
        std::string bytes;
        IniRead result;
    } cases[] = {
        {"NUL byte", std::string("[S]\r\nk=\0v\r\n", 10), IniRead::kNotText},
        {"utf-16 big-endian", "\xFE\xFF\0[", IniRead::kNotText},
        {"utf-16 cut in a character", "\xFF\xFE[\0S", IniRead::kNotText},
        {"NUL character in utf-16", std::string("\xFF\xFE[\0\0\0", 6), IniRead::kNotText},
        {"too large", std::string(IniDocument::kMaxFileBytes + 1, 'a'), IniRead::kTooLarge},
        {"largest accepted", std::string(IniDocument::kMaxFileBytes, 'a'), IniRead::kRead},
    };
    for (const Case& c : cases) {
        IniDocument doc;
        EXPECT_EQ(doc.Parse(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()),
                  c.result)
            << c.name;
        if (c.result != IniRead::kRead) {
            EXPECT_EQ(doc.Serialize(), "") << c.name;
        }
    }
}

TEST(IniFile, FileCallsCreateMissingFilesAndNeverOverwriteRefusedOnes) {
    const std::wstring path = L"ini_file_test_created.ini";
    RemoveFile(path);
    IniDocument doc;
    EXPECT_EQ(LoadIniFile(path, doc), IniRead::kMissing);
    EXPECT_EQ(ReadIniString(path, L"Realm", L"LastSelected", L"none"), L"none");
    EXPECT_TRUE(WriteIniString(path, L"Realm", L"LastSelected", L"电信一区"));
    EXPECT_TRUE(WriteIniString(path, L"Server", L"LastSelected", L"紫禁之巅"));
    EXPECT_TRUE(WriteIniString(path, L"realm", L"lastselected", L"网通二区"));
    EXPECT_EQ(ReadBytes(path), WideToUtf8(L"[Realm]\r\nLastSelected=网通二区\r\n"
                                          L"[Server]\r\nLastSelected=紫禁之巅\r\n"));
    EXPECT_EQ(LoadIniFile(path, doc), IniRead::kRead);
    EXPECT_EQ(ReadIniString(path, L"SERVER", L"LastSelected", L""), L"紫禁之巅");
    RemoveFile(path);

    const std::wstring binary = L"ini_file_test_binary.ini";
    const std::string garbage("\x01\x02\0\x03[S]\r\nk=v\r\n", 12);
    ASSERT_TRUE(WriteWholeFile(binary, garbage.data(), garbage.size()));
    EXPECT_EQ(LoadIniFile(binary, doc), IniRead::kNotText);
    EXPECT_EQ(ReadIniString(binary, L"S", L"k", L"fallback"), L"fallback");
    EXPECT_FALSE(WriteIniString(binary, L"S", L"k", L"new"));
    EXPECT_EQ(ReadBytes(binary), garbage);
    RemoveFile(binary);

    EXPECT_FALSE(WriteIniString(L"no_such_folder_ini_test/x.ini", L"S", L"k", L"v"));
}

#ifndef _WIN32
// A disk that fills up in the middle of the write: the file size limit cuts the write
// short (and SIGXFSZ is ignored, so the write only fails). The game's other settings must
// survive whole, in their own encoding, with nothing left beside them.
TEST(IniFile, AWriteThatFailsHalfwayLeavesTheFileWhole) {
    const std::wstring path = L"ini_file_test_halfway.ini";
    std::wstring text = L"[SystemSettings]\r\nBloom=true\r\n";
    for (int i = 0; i < 200; ++i) text += FormatText(L"Key%d=画面设置 %d\r\n", i, i);
    const std::string original = Utf16File(text);
    ASSERT_TRUE(WriteWholeFile(path, original.data(), original.size()));

    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &previous), 0);
    rlimit limit{}, saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    limit = saved;
    limit.rlim_cur = original.size() / 2;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const bool written = WriteIniString(path, L"SystemSettings", L"Bloom", L"false");
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &previous, nullptr);

    EXPECT_FALSE(written);
    EXPECT_EQ(ReadBytes(path), original);
    EXPECT_FALSE(FileExists(path + L".new"));
    // With room again the same write goes through and keeps the encoding.
    EXPECT_TRUE(WriteIniString(path, L"SystemSettings", L"Bloom", L"false"));
    std::wstring expected = text;
    expected.replace(expected.find(L"Bloom=true"), 10, L"Bloom=false");
    EXPECT_EQ(ReadBytes(path), Utf16File(expected));
    RemoveFile(path);
}
#endif

}  // namespace
}  // namespace velm
