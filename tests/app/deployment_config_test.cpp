#include "app/deployment_config.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "common/file_io.h"
#include "common/text.h"

namespace velm {
namespace {

TEST(DeploymentConfig, ParsesTextsCommentsAndEscapes) {
    std::map<int, std::wstring> texts;
    std::wstring error;
    ASSERT_TRUE(ParseDeploymentConfig(
        "\xEF\xBB\xBF; comment\r\n\n143 = http://h/a.xml \r\n142 =-A  -B\n253 = SOFTWARE\\\\K\\\\V\n"
        "232 = 1.0\\n2.0\n233 = Orvane\xE4\xBD\x93\n",
        texts, error))
        << WideToUtf8(error);
    EXPECT_EQ(texts[143], L"http://h/a.xml");
    EXPECT_EQ(texts[142], L"-A  -B");
    EXPECT_EQ(texts[253], L"SOFTWARE\\K\\V");
    EXPECT_EQ(texts[232], L"1.0\n2.0");
    EXPECT_EQ(texts[233], L"Orvane体");
    EXPECT_EQ(texts.size(), 5u);
}

TEST(DeploymentConfig, RejectsLinesThatAreNotIdAndText) {
    const char* bad[] = {"143 http://x\n", "abc = x\n", "0 = x\n", "70000 = x\n", "= x\n", "-1 = x\n"};
    for (const char* text : bad) {
        std::map<int, std::wstring> texts;
        std::wstring error;
        EXPECT_FALSE(ParseDeploymentConfig(text, texts, error)) << text;
        EXPECT_NE(error.find(L"line 1"), std::wstring::npos) << text;
    }
}

// The shipped file carries every text the launcher reads, in the exact forms it needs.
TEST(DeploymentConfig, ShippedFileHasEveryTextInItsExactForm) {
    const char* source = std::getenv("VELM_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    std::wstring path = Utf8ToWide(source) + L"/config/deployment.ini";
#ifdef _WIN32
    path = L"Z:" + path;
#endif
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadWholeFile(path, bytes, 1 << 20));
    std::map<int, std::wstring> texts;
    std::wstring error;
    ASSERT_TRUE(ParseDeploymentConfig(std::string(bytes.begin(), bytes.end()), texts, error));
    for (int id : {141, 142, 143, 205, 209, 232, 233, 242, 253, 255, 256, 900, 901, 902, 903})
        EXPECT_FALSE(texts[id].empty()) << id;
    EXPECT_EQ(texts[141], L".\\Binaries\\Win32\\Velm.exe");
    EXPECT_EQ(texts[142], L"-SEEKFREELOADING -EnableReadEncrypted -EnableReadEncryptedXML  -BinaryXML");
    EXPECT_EQ(texts[233], L"Orvane体验");
    EXPECT_EQ(texts[253], L"SOFTWARE\\Pendrel\\EMBERLYTEST");
    EXPECT_EQ(texts[232], L"1.0.0.1\n1.0.0.1\n1.0.0.1\n1.0.0.0\n1.0.0.0\n1.0.0.0");
    const std::pair<int, const wchar_t*> paths[] = {
        {143, L"/qv_test/Patch/Client_Output/filelist.xml"}, {205, L"/qv_test/Patch/loginserver.txt"},
        {209, L"/content/launcher/launcher.shtml"},         {242, L"/reg_vantor/register.jsp"},
        {255, L"/launch.html"},                              {256, L"/reg/register.jsp?game=qv"},
        {900, L"/click/cs/qv"},                              {901, L"/reg/register.jsp?game=qv"},
        {902, L"/index.shtml"},                              {903, L"/download/index.shtml"},
    };
    for (const auto& [id, tail] : paths) {
        const std::wstring& url = texts[id];
        std::wstring suffix = tail;
        ASSERT_GE(url.size(), suffix.size()) << id;
        EXPECT_EQ(url.substr(0, 7), L"http://") << id;
        EXPECT_EQ(url.substr(url.size() - suffix.size()), suffix) << id;
    }
}

}  // namespace
}  // namespace velm
