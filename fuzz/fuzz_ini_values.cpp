// The game's INI files and the structured values in them. Input: a 16-bit length, the
// performance switch file, then the engine file. An untouched file is written back byte
// for byte; a written key reads back as written, in memory and after a save; the settings
// model saved and loaded again is the same model, and every texture group carries the
// level of detail bias just written.
#include "fuzz_support.h"

#include "common/ini_file.h"
#include "common/text.h"
#include "game/perf_switch_settings.h"

namespace {

struct Key {
    const wchar_t* section;
    const wchar_t* key;
    const wchar_t* value;
};
const Key kWrites[] = {
    {L"TCore.TPerfSwitch", L"m_curGraphicOption", L"(m_iCharMatDetail=2,m_bDOF=true)"},
    {L"TCore.TPerfSwitch", L"m_bLowEnergyCost", L"True"},
    {L"SystemSettings", L"TEXTUREGROUP_World", L"(MinLODSize=256,LODBias=1)"},
    {L"SystemSettings", L"Bloom", L"false"},
};

const wchar_t* const kTextureGroups[] = {L"TEXTUREGROUP_World", L"TEXTUREGROUP_Lightmap",
                                         L"TEXTUREGROUP_Skybox"};

// Whether this platform's wide strings can carry the text unchanged: lone UTF-16
// surrogates only survive where wchar_t is 16 bits wide (the launcher's own platform).
bool TextSurvivesWideStrings(const uint8_t* bytes, size_t size) {
    if (size < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) return true;
    const std::string body(reinterpret_cast<const char*>(bytes) + 2, size - 2);
    return velm::WideToUtf16Le(velm::Utf16LeToWide(bytes + 2, size - 2)) == body;
}

void CheckDocument(const uint8_t* bytes, size_t size) {
    velm::IniDocument doc;
    const velm::IniRead parsed = doc.Parse(bytes, size);
    FUZZ_CHECK(parsed == velm::IniRead::kRead || parsed == velm::IniRead::kNotText);
    if (parsed != velm::IniRead::kRead) return;
    if (TextSurvivesWideStrings(bytes, size))
        FUZZ_CHECK(doc.Serialize() == std::string(reinterpret_cast<const char*>(bytes), size));
    for (const Key& write : kWrites) {
        doc.Set(write.section, write.key, write.value);
        FUZZ_CHECK(doc.Get(write.section, write.key, L"") == write.value);
    }
    velm::IniDocument reread;
    const std::string saved = doc.Serialize();
    FUZZ_CHECK(reread.Parse(reinterpret_cast<const uint8_t*>(saved.data()), saved.size()) == velm::IniRead::kRead);
    for (const Key& write : kWrites) FUZZ_CHECK(reread.Get(write.section, write.key, L"") == write.value);
}

bool SameModel(const velm::PerfSwitchSettings& a, const velm::PerfSwitchSettings& b) {
    return a.m_iCharMatDetail == b.m_iCharMatDetail && a.m_iSceneMatDetail == b.m_iSceneMatDetail &&
           a.m_iParticleLodBias == b.m_iParticleLodBias && a.m_iShadowQuality == b.m_iShadowQuality &&
           a.m_iTextureDetail == b.m_iTextureDetail && a.m_bFacialAnim == b.m_bFacialAnim &&
           a.m_bCharPhysics == b.m_bCharPhysics && a.m_bFullScreenBloom == b.m_bFullScreenBloom &&
           a.m_bDOF == b.m_bDOF && a.m_bFullScreen == b.m_bFullScreen && a.m_bVsync == b.m_bVsync &&
           a.m_iResX == b.m_iResX && a.m_iResY == b.m_iResY && a.m_bLowEnergyCost == b.m_bLowEnergyCost;
}

void CheckSettings(const velm_fuzz::TwoPieces& files) {
    static const std::wstring perf_path = velm_fuzz::ScratchPath("VelmPerfSwitch.ini");
    static const std::wstring engine_path = velm_fuzz::ScratchPath("VelmEngine.ini");
    velm_fuzz::WriteBytes(perf_path, files.first, files.first_size);
    velm_fuzz::WriteBytes(engine_path, files.second, files.second_size);

    velm::PerfSwitchSettings settings;
    settings.Load(perf_path, engine_path);
    const int saved = settings.Save();
    if (saved != 1) {
        // Only a file that is not INI text may be refused; it must then be left as it was.
        velm::IniDocument probe;
        FUZZ_CHECK(velm::LoadIniFile(saved == 0 ? perf_path : engine_path, probe) == velm::IniRead::kNotText);
        if (saved == 0) {
            FUZZ_CHECK(velm_fuzz::ReadBytes(perf_path) ==
                       std::vector<uint8_t>(files.first, files.first + files.first_size));
        }
        return;
    }
    velm::PerfSwitchSettings reloaded;
    reloaded.Load(perf_path, engine_path);
    FUZZ_CHECK(SameModel(settings, reloaded));

    const std::wstring bias = settings.m_iTextureDetail == 0 ? L"1" : L"0";
    for (const wchar_t* group : kTextureGroups) {
        const std::wstring value = velm::ReadIniString(engine_path, L"SystemSettings", group, L"");
        FUZZ_CHECK(velm::StructText::Parse(value).Get(L"LODBias").text() == bias);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const velm_fuzz::TwoPieces files = velm_fuzz::SplitInput(data, size);
    CheckDocument(files.first, files.first_size);
    CheckDocument(files.second, files.second_size);
    CheckSettings(files);

    // Structured values on their own: what Format writes, Parse reads back the same.
    const std::wstring raw = velm::Utf8ToWide(std::string(reinterpret_cast<const char*>(data), size));
    const velm::StructText parsed = velm::StructText::Parse(raw);
    const velm::StructText again = velm::StructText::Parse(parsed.Format());
    bool plain = true;
    for (const auto& field : parsed.fields()) {
        if (field.second.text().find_first_of(L"()") != std::wstring::npos) plain = false;
    }
    if (plain) {
        FUZZ_CHECK(again.fields().size() == parsed.fields().size());
        for (const auto& field : parsed.fields())
            FUZZ_CHECK(again.Get(field.first).text() == field.second.text());
    }
    return 0;
}
