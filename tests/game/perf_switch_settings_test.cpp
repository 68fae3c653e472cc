#include "game/perf_switch_settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/file_io.h"
#include "common/ini_file.h"
#include "common/text.h"

namespace velm {
namespace {

const wchar_t kPerf[] = L"perf_switch_test_perf.ini";
const wchar_t kEngine[] = L"perf_switch_test_engine.ini";

std::string ReadBytes(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes, 1 << 20)) return "<missing>";
    return std::string(bytes.begin(), bytes.end());
}

void WriteText(const std::wstring& path, const std::string& text) {
    ASSERT_TRUE(WriteWholeFile(path, text.data(), text.size()));
}

std::wstring Fixture(const char* name) {
    const char* root = std::getenv("VELM_SOURCE_DIR");
    return Utf8ToWide(std::string(root ? root : ".") + "/tests/game/fixtures/" + name);
}

// Every section header, comment and key=value of a file in order, with blank lines and
// the spacing around "=" left out: the parts both the system's profile functions and
// this program's editor must keep.
std::vector<std::string> Entries(const std::string& text) {
    std::vector<std::string> entries;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        auto trim = [](std::string s) {
            size_t b = s.find_first_not_of(" \t\r"), e = s.find_last_not_of(" \t\r");
            return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
        };
        line = trim(line);
        if (line.empty()) continue;
        size_t equals = line.find('=');
        if (line[0] != ';' && line[0] != '[' && equals != std::string::npos) {
            line = trim(line.substr(0, equals)) + "=" + trim(line.substr(equals + 1));
        }
        entries.push_back(line);
    }
    return entries;
}

class PerfSwitchFiles : public ::testing::Test {
protected:
    void SetUp() override { TearDown(); }
    void TearDown() override {
        RemoveFile(kPerf);
        RemoveFile(kEngine);
    }
    static std::wstring Engine(const wchar_t* key) {
        return ReadIniString(kEngine, L"SystemSettings", key, L"<absent>");
    }
    static std::wstring Perf(const wchar_t* key) {
        return ReadIniString(kPerf, L"TCore.TPerfSwitch", key, L"<absent>");
    }
};

TEST(StructText, ParsesTheGamesStructNotation) {
    struct Case {
        std::wstring raw, formatted;
    } cases[] = {
        {L"(a=1,b=2)", L"(a=1,b=2)"},
        {L"(m_iA=1, m_bB=true,\tm_bC =false)", L"(m_bB=true,m_bC=false,m_iA=1)"},
        {L"(a= 1 ,b=x y)", L"(a= 1 ,b=x y)"},
        {L"junk before (a=1)", L"(a=1)"},
        {L"a=1,b=2", L"()"},
        {L"(a=1,b=2", L"(a=1)"},
        {L"(a=1,b", L"(a=1)"},
        {L"(a=1,A=2)", L"(a=2)"},
        {L"(a=,b=1)", L"(a=,b=1)"},
        {L"(=1)", L"(=1)"},
        {L"", L"()"},
        {L"()", L"()"},
        {L"(b=1,A=2,_x=3,Z=4)", L"(_x=3,A=2,b=1,Z=4)"},  // A to Z compare as lower case
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WideToUtf8(StructText::Parse(c.raw).Format()), WideToUtf8(c.formatted))
            << WideToUtf8(c.raw);
    }
    StructText names = StructText::Parse(L"(M_BVSYNC=true,m_iresx=1024)");
    EXPECT_TRUE(names.Get(L"m_bVsync").AsBool());
    EXPECT_EQ(names.Get(L"m_iResX").AsInt(), 1024);
    EXPECT_EQ(names.Get(L"m_iResY").text(), L"");
    names.Set(L"M_IRESX", L"800");
    EXPECT_EQ(names.Format(), L"(M_BVSYNC=true,m_iresx=800)");
}

TEST(StructText, ValueReadings) {
    struct Case {
        std::wstring text;
        bool as_bool;
        int32_t as_int;
    } cases[] = {
        {L"TRUE", true, 0},     {L"true", true, 0},   {L"tRuE", true, 0},
        {L"FALSE", false, 0},   {L"False", false, 0}, {L"1", true, 1},
        {L"0", false, 0},       {L"-1", true, -1},    {L" 5", true, 5},
        {L"+3", true, 3},       {L"12abc", true, 12}, {L"abc", false, 0},
        {L"", false, 0},        {L" true", false, 0}, {L"99999999999", true, 2147483647},
    };
    for (const Case& c : cases) {
        SettingValue value(c.text);
        EXPECT_EQ(value.AsBool(), c.as_bool) << WideToUtf8(c.text);
        EXPECT_EQ(value.AsInt(), c.as_int) << WideToUtf8(c.text);
    }
}

TEST_F(PerfSwitchFiles, LoadReadsTheThreeValues) {
    struct Case {
        const char* name;
        std::string section;  // the whole TCore.TPerfSwitch section
        int32_t char_mat, scene, particle, shadow, texture;
        bool facial, physics, bloom, dof, full_screen, vsync;
        int32_t res_x, res_y, low_energy;
    } cases[] = {
        {"as the program writes it",
         "m_curGraphicOption=(m_iCharMatDetail=1,m_iSceneMatDetail=2,m_iParticleLodBias=5,"
         "m_iShadowQuality=1,m_iTextureDetail=1,m_bFacialAnim=true, m_bCharPhysics=true,"
         "m_bFullScreenBloom=false,m_bDOF=true)\r\n"
         "m_curDisplayOption=(m_bFullScreen=true,m_iResX=1920,m_iResY=1080,m_bVSync=true,"
         "m_iFullScreenAA=0)\r\nm_bLowEnergyCost=True\r\n",
         1, 2, 5, 1, 1, true, true, false, true, true, true, 1920, 1080, 1},
        {"any letter case and blanks after commas",
         "M_CURGRAPHICOPTION=(M_ICHARMATDETAIL=1, m_isceneMATdetail=3, m_bDof=1)\r\n"
         "m_curdisplayoption=( m_bfullscreen=TRUE, M_IRESX=800)\r\nM_BLOWENERGYCOST=1\r\n",
         1, 3, 0, 0, 0, false, false, false, true, true, false, 800, 0, 1},
        {"no opening parenthesis",
         "m_curGraphicOption=m_iCharMatDetail=1,m_bDOF=true\r\nm_bLowEnergyCost=False\r\n",
         0, 0, 0, 0, 0, false, false, false, false, false, false, 0, 0, 0},
        {"last field without comma or parenthesis",
         "m_curGraphicOption=(m_iCharMatDetail=1,m_iSceneMatDetail=2\r\n"
         "m_curDisplayOption=(m_iResX=640,m_iResY=480\r\n",
         1, 0, 0, 0, 0, false, false, false, false, false, false, 640, 0, 0},
        {"negative and out-of-range values are not clamped",
         "m_curGraphicOption=(m_iParticleLodBias=-1,m_iSceneMatDetail=7)\r\n"
         "m_bLowEnergyCost=yes\r\n",
         0, 7, -1, 0, 0, false, false, false, false, false, false, 0, 0, 0},
        {"empty section", "", 0, 0, 0, 0, 0, false, false, false, false, false, false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        WriteText(kPerf, "[Other]\r\nm_bLowEnergyCost=True\r\n[TCore.TPerfSwitch]\r\n" + c.section);
        PerfSwitchSettings s;
        s.Load(kPerf, kEngine);
        EXPECT_EQ(s.m_iCharMatDetail, c.char_mat) << c.name;
        EXPECT_EQ(s.m_iSceneMatDetail, c.scene) << c.name;
        EXPECT_EQ(s.m_iParticleLodBias, c.particle) << c.name;
        EXPECT_EQ(s.m_iShadowQuality, c.shadow) << c.name;
        EXPECT_EQ(s.m_iTextureDetail, c.texture) << c.name;
        EXPECT_EQ(s.m_bFacialAnim, c.facial) << c.name;
        EXPECT_EQ(s.m_bCharPhysics, c.physics) << c.name;
        EXPECT_EQ(s.m_bFullScreenBloom, c.bloom) << c.name;
        EXPECT_EQ(s.m_bDOF, c.dof) << c.name;
        EXPECT_EQ(s.m_bFullScreen, c.full_screen) << c.name;
        EXPECT_EQ(s.m_bVsync, c.vsync) << c.name;
        EXPECT_EQ(s.m_iResX, c.res_x) << c.name;
        EXPECT_EQ(s.m_iResY, c.res_y) << c.name;
        EXPECT_EQ(s.m_bLowEnergyCost, c.low_energy) << c.name;
    }
}

TEST_F(PerfSwitchFiles, MissingFilesAndEmptyPathsGiveDefaults) {
    for (const std::wstring& path : {std::wstring(kPerf), std::wstring()}) {
        PerfSwitchSettings s;
        s.m_iSceneMatDetail = 3;
        s.m_bLowEnergyCost = 1;
        s.Load(path, path);
        EXPECT_EQ(s.m_iSceneMatDetail, 0);
        EXPECT_EQ(s.m_bLowEnergyCost, 0);
        EXPECT_FALSE(s.m_bVsync);
        EXPECT_EQ(s.perf_switch_path(), path);
    }
}

TEST_F(PerfSwitchFiles, SaveWritesTheExactFormatsAndReadsBack) {
    PerfSwitchSettings s;
    s.Load(kPerf, kEngine);
    s.m_iCharMatDetail = 1;
    s.m_iSceneMatDetail = 2;
    s.m_iParticleLodBias = 2;
    s.m_iShadowQuality = 0;
    s.m_iTextureDetail = 1;
    s.m_bFacialAnim = true;
    s.m_bFullScreenBloom = true;
    s.m_bFullScreen = true;
    s.m_bVsync = true;
    s.m_iResX = 1280;
    s.m_iResY = 720;
    s.m_bLowEnergyCost = 1;
    EXPECT_EQ(s.Save(), 1);
    EXPECT_EQ(Perf(L"m_curGraphicOption"),
              L"(m_iCharMatDetail=1,m_iSceneMatDetail=2,m_iParticleLodBias=2,m_iShadowQuality=0,"
              L"m_iTextureDetail=1,m_bFacialAnim=true, m_bCharPhysics=false,"
              L"m_bFullScreenBloom=true,m_bDOF=false)");
    EXPECT_EQ(Perf(L"m_curDisplayOption"),
              L"(m_bFullScreen=true,m_iResX=1280,m_iResY=720,m_bVSync=true,m_iFullScreenAA=0)");
    EXPECT_EQ(Perf(L"m_bLowEnergyCost"), L"True");

    PerfSwitchSettings back;
    back.Load(kPerf, kEngine);
    EXPECT_EQ(back.m_iCharMatDetail, 1);
    EXPECT_EQ(back.m_iSceneMatDetail, 2);
    EXPECT_EQ(back.m_iParticleLodBias, 2);
    EXPECT_EQ(back.m_iTextureDetail, 1);
    EXPECT_TRUE(back.m_bFacialAnim);
    EXPECT_FALSE(back.m_bCharPhysics);
    EXPECT_TRUE(back.m_bFullScreenBloom);
    EXPECT_TRUE(back.m_bVsync);  // written as m_bVSync, read as m_bVsync
    EXPECT_TRUE(back.m_bFullScreen);
    EXPECT_EQ(back.m_iResX, 1280);
    EXPECT_EQ(back.m_iResY, 720);
    EXPECT_EQ(back.m_bLowEnergyCost, 1);

    back.m_bLowEnergyCost = 0;
    EXPECT_EQ(back.Save(), 1);
    EXPECT_EQ(Perf(L"m_bLowEnergyCost"), L"False");
}

TEST_F(PerfSwitchFiles, EngineKeysFollowTheLevelTables) {
    struct Case {
        const char* name;
        void (*set)(PerfSwitchSettings&);
        std::vector<std::pair<const wchar_t*, const wchar_t*>> keys;
    } cases[] = {
        {"switches on",
         [](PerfSwitchSettings& s) {
             s.m_bCharPhysics = s.m_bDOF = s.m_bFacialAnim = s.m_bFullScreenBloom = true;
             s.m_iCharMatDetail = 1;
         },
         {{L"AvatarPhysicsQuality", L"1"}, {L"DepthOfField", L"true"},
          {L"AvatarFaceEmotionQuality", L"1"}, {L"Bloom", L"true"},
          {L"AvatarMaterialQuality", L"1"}}},
        {"switches off", [](PerfSwitchSettings&) {},
         {{L"AvatarPhysicsQuality", L"0"}, {L"DepthOfField", L"false"},
          {L"AvatarFaceEmotionQuality", L"0"}, {L"Bloom", L"false"},
          {L"AvatarMaterialQuality", L"0"}}},
        {"particle density 0", [](PerfSwitchSettings& s) { s.m_iParticleLodBias = 0; },
         {{L"ParticleLODBias", L"2"}}},
        {"particle density 1", [](PerfSwitchSettings& s) { s.m_iParticleLodBias = 1; },
         {{L"ParticleLODBias", L"1"}}},
        {"particle density 2", [](PerfSwitchSettings& s) { s.m_iParticleLodBias = 2; },
         {{L"ParticleLODBias", L"0"}}},
        {"particle density 5", [](PerfSwitchSettings& s) { s.m_iParticleLodBias = 5; },
         {{L"ParticleLODBias", L"0"}}},
        {"particle density -1", [](PerfSwitchSettings& s) { s.m_iParticleLodBias = -1; },
         {{L"ParticleLODBias", L"2"}}},
        {"scene detail 0", [](PerfSwitchSettings& s) { s.m_iSceneMatDetail = 0; },
         {{L"DetailMode", L"0"}, {L"LensFlares", L"false"}, {L"Distortion", L"false"},
          {L"FogVolumes", L"false"}, {L"FoliageDrawRadiusMultiplier", L"0"}}},
        {"scene detail 1", [](PerfSwitchSettings& s) { s.m_iSceneMatDetail = 1; },
         {{L"DetailMode", L"1"}, {L"LensFlares", L"true"}, {L"Distortion", L"false"},
          {L"FogVolumes", L"false"}, {L"FoliageDrawRadiusMultiplier", L"1"}}},
        {"scene detail 2", [](PerfSwitchSettings& s) { s.m_iSceneMatDetail = 2; },
         {{L"DetailMode", L"2"}, {L"LensFlares", L"true"}, {L"Distortion", L"false"},
          {L"FogVolumes", L"true"}, {L"FoliageDrawRadiusMultiplier", L"0.5"}}},
        {"scene detail 3", [](PerfSwitchSettings& s) { s.m_iSceneMatDetail = 3; },
         {{L"DetailMode", L"2"}, {L"LensFlares", L"true"}, {L"Distortion", L"true"},
          {L"FogVolumes", L"true"}, {L"FoliageDrawRadiusMultiplier", L"1"}}},
        {"scene detail 4 as 0", [](PerfSwitchSettings& s) { s.m_iSceneMatDetail = 4; },
         {{L"DetailMode", L"0"}, {L"LensFlares", L"false"}, {L"FoliageDrawRadiusMultiplier", L"0"}}},
        {"scene detail -1 as 0", [](PerfSwitchSettings& s) { s.m_iSceneMatDetail = -1; },
         {{L"DetailMode", L"0"}, {L"FogVolumes", L"false"}}},
        {"shadow 0", [](PerfSwitchSettings& s) { s.m_iShadowQuality = 0; },
         {{L"EnableSimpleShadow", L"true"}, {L"DynamicShadows", L"false"}}},
        {"shadow 1", [](PerfSwitchSettings& s) { s.m_iShadowQuality = 1; },
         {{L"EnableSimpleShadow", L"false"}, {L"DynamicShadows", L"true"}}},
        {"shadow -1", [](PerfSwitchSettings& s) { s.m_iShadowQuality = -1; },
         {{L"EnableSimpleShadow", L"false"}, {L"DynamicShadows", L"true"}}},
        {"texture detail 0", [](PerfSwitchSettings& s) { s.m_iTextureDetail = 0; },
         {{L"TEXTUREGROUP_World", L"(LODBias=1)"}, {L"TEXTUREGROUP_Lightmap", L"(LODBias=1)"}}},
        {"texture detail 1", [](PerfSwitchSettings& s) { s.m_iTextureDetail = 1; },
         {{L"TEXTUREGROUP_World", L"(LODBias=0)"}, {L"TEXTUREGROUP_Skybox", L"(LODBias=0)"}}},
        {"texture detail 7", [](PerfSwitchSettings& s) { s.m_iTextureDetail = 7; },
         {{L"TEXTUREGROUP_Effects", L"(LODBias=0)"}}},
    };
    for (const Case& c : cases) {
        TearDown();
        PerfSwitchSettings s;
        s.Load(kPerf, kEngine);
        c.set(s);
        ASSERT_EQ(s.Save(), 1) << c.name;
        for (const auto& key : c.keys) {
            EXPECT_EQ(WideToUtf8(Engine(key.first)), WideToUtf8(key.second))
                << c.name << ": " << WideToUtf8(key.first);
        }
    }
}

TEST_F(PerfSwitchFiles, LoadThenSaveKeepsEverythingElseOfBothFiles) {
    WriteText(kPerf, ReadBytes(Fixture("VelmPerfSwitch.ini")));
    WriteText(kEngine, ReadBytes(Fixture("VelmEngine.ini")));
    PerfSwitchSettings s;
    s.Load(kPerf, kEngine);
    EXPECT_EQ(s.m_iSceneMatDetail, 3);
    EXPECT_EQ(s.m_iResX, 1680);
    EXPECT_TRUE(s.m_bFullScreen);
    ASSERT_EQ(s.Save(), 1);

    const std::string expected_perf = ReadBytes(Fixture("VelmPerfSwitch.expected.ini"));
    const std::string expected_engine = ReadBytes(Fixture("VelmEngine.expected.ini"));
    ASSERT_NE(expected_perf, "<missing>");
    ASSERT_NE(expected_engine, "<missing>");
    EXPECT_EQ(Entries(ReadBytes(kPerf)), Entries(expected_perf));
    EXPECT_EQ(Entries(ReadBytes(kEngine)), Entries(expected_engine));
}

TEST_F(PerfSwitchFiles, LongTextureGroupsAreRewrittenWhole) {
    std::wstring fields;
    for (int i = 0; i < 120; ++i) fields += L"Field" + std::to_wstring(100 + i) + L"=value,";
    const std::wstring group = L"(" + fields + L"LODBias=0)";
    ASSERT_GT(group.size(), 1024u);
    WriteText(kEngine, WideToUtf8(L"[SystemSettings]\r\nTEXTUREGROUP_Effects=" + group + L"\r\n"));
    PerfSwitchSettings s;
    s.Load(kPerf, kEngine);
    ASSERT_EQ(s.Save(), 1);
    std::wstring written = Engine(L"TEXTUREGROUP_Effects");
    EXPECT_EQ(StructText::Parse(written).fields().size(), 121u);
    EXPECT_NE(written.find(L"Field219=value"), std::wstring::npos);
    EXPECT_EQ(StructText::Parse(written).Get(L"LODBias").text(), L"1");
}

TEST_F(PerfSwitchFiles, SaveFailures) {
    // The performance switch file cannot be written: nothing at all is written.
    PerfSwitchSettings s;
    s.Load(L"no_such_folder_perf_test/VelmPerfSwitch.ini", kEngine);
    EXPECT_EQ(s.Save(), 0);
    EXPECT_EQ(ReadBytes(kEngine), "<missing>");

    // A performance switch file that is not text is left as it was.
    const std::string binary("\x01\0\x02[TCore.TPerfSwitch]\r\n", 24);
    WriteText(kPerf, binary);
    s.Load(kPerf, kEngine);
    EXPECT_EQ(s.Save(), 0);
    EXPECT_EQ(ReadBytes(kPerf), binary);
    EXPECT_EQ(ReadBytes(kEngine), "<missing>");

    // The engine file cannot be written: the first file is, and the answer says the rest failed.
    RemoveFile(kPerf);
    s.Load(kPerf, L"no_such_folder_perf_test/VelmEngine.ini");
    EXPECT_EQ(s.Save(), -1);
    EXPECT_EQ(Perf(L"m_bLowEnergyCost"), L"False");

    PerfSwitchSettings unknown;
    unknown.Load(L"", L"");
    EXPECT_EQ(unknown.Save(), 0);
}

}  // namespace
}  // namespace velm
