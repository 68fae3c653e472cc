#include "game/perf_switch_settings.h"

#include "common/ini_file.h"
#include "common/log.h"
#include "common/text.h"

namespace velm {
namespace {

const wchar_t kPerfSection[] = L"TCore.TPerfSwitch";
const wchar_t kEngineSection[] = L"SystemSettings";

// Texture groups in the order they are rewritten.
const wchar_t* const kTextureGroups[] = {
    L"TEXTUREGROUP_World",         L"TEXTUREGROUP_WorldNormalMap",
    L"TEXTUREGROUP_WorldSpecular", L"TEXTUREGROUP_Character",
    L"TEXTUREGROUP_CharacterNormalMap", L"TEXTUREGROUP_CharacterSpecular",
    L"TEXTUREGROUP_WeaponNormalMap", L"TEXTUREGROUP_WeaponSpecular",
    L"TEXTUREGROUP_Effects",       L"TEXTUREGROUP_Skybox",
    L"TEXTUREGROUP_Lightmap",
};

// Engine values of one scene detail level, in the order they are written.
struct SceneDetail {
    const wchar_t* detail_mode;
    const wchar_t* lens_flares;
    const wchar_t* distortion;
    const wchar_t* fog_volumes;
    const wchar_t* foliage_radius;
};
const SceneDetail kSceneDetails[] = {
    {L"0", L"false", L"false", L"false", L"0"},
    {L"1", L"true", L"false", L"false", L"1"},
    {L"2", L"true", L"false", L"true", L"0.5"},
    {L"2", L"true", L"true", L"true", L"1"},
};

const wchar_t* TrueFalse(bool value) { return value ? L"true" : L"false"; }

bool IsBlankOrTab(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring TrimBlanks(const std::wstring& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlankOrTab(text[begin])) ++begin;
    while (end > begin && IsBlankOrTab(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

wchar_t FoldCase(wchar_t c) { return (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c; }

}  // namespace

const wchar_t kPerfSwitchFileInDocuments[] = L"\\Emberly\\VelmGame\\Config\\VelmPerfSwitch.ini";
const wchar_t kEngineFileInDocuments[] = L"\\Emberly\\VelmGame\\Config\\VelmEngine.ini";

bool SettingValue::AsBool() const {
    if (EqualsIgnoreAsciiCase(text_, L"FALSE")) return false;
    if (EqualsIgnoreAsciiCase(text_, L"TRUE")) return true;
    return AsInt() != 0;
}

int32_t SettingValue::AsInt() const { return ParseLeadingInt(text_); }

bool FieldNameLess::operator()(const std::wstring& a, const std::wstring& b) const {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        uint32_t x = uint32_t(FoldCase(a[i])), y = uint32_t(FoldCase(b[i]));
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

StructText StructText::Parse(const std::wstring& raw) {
    StructText parsed;
    size_t p = raw.find(L'(');
    while (p != std::wstring::npos) {
        size_t e = raw.find(L'=', p + 1);
        if (e == std::wstring::npos) break;
        size_t c = raw.find(L',', e + 1);
        if (c == std::wstring::npos) c = raw.find(L')', e + 1);
        if (c == std::wstring::npos) break;
        parsed.Set(TrimBlanks(raw.substr(p + 1, e - p - 1)), raw.substr(e + 1, c - e - 1));
        p = c;
    }
    return parsed;
}

SettingValue StructText::Get(const std::wstring& name) const {
    auto found = fields_.find(name);
    return found == fields_.end() ? SettingValue() : found->second;
}

void StructText::Set(const std::wstring& name, const std::wstring& value) {
    fields_[name] = SettingValue(value);
}

std::wstring StructText::Format() const {
    std::wstring text = L"(";
    bool first = true;
    for (const auto& field : fields_) {
        if (!first) text += L',';
        first = false;
        text += field.first;
        text += L'=';
        text += field.second.text();
    }
    text += L')';
    return text;
}

void PerfSwitchSettings::Load(const std::wstring& perf_switch_path, const std::wstring& engine_path) {
    *this = PerfSwitchSettings();
    perf_switch_path_ = perf_switch_path;
    engine_path_ = engine_path;

    IniDocument doc;
    if (!perf_switch_path.empty() && !IniUsable(LoadIniFile(perf_switch_path, doc))) {
        LauncherLog::Instance().Write(L"PerfSwitchSettings: cannot read %ls, using defaults\n",
                                      perf_switch_path.c_str());
    }
    StructText graphic =
        StructText::Parse(doc.Get(kPerfSection, L"m_curGraphicOption", L"", kMaxValueChars));
    m_bCharPhysics = graphic.Get(L"m_bCharPhysics").AsBool();
    m_bDOF = graphic.Get(L"m_bDOF").AsBool();
    m_bFacialAnim = graphic.Get(L"m_bFacialAnim").AsBool();
    m_bFullScreenBloom = graphic.Get(L"m_bFullScreenBloom").AsBool();
    m_iCharMatDetail = graphic.Get(L"m_iCharMatDetail").AsInt();
    m_iParticleLodBias = graphic.Get(L"m_iParticleLodBias").AsInt();
    m_iSceneMatDetail = graphic.Get(L"m_iSceneMatDetail").AsInt();
    m_iShadowQuality = graphic.Get(L"m_iShadowQuality").AsInt();
    m_iTextureDetail = graphic.Get(L"m_iTextureDetail").AsInt();

    StructText display =
        StructText::Parse(doc.Get(kPerfSection, L"m_curDisplayOption", L"", kMaxValueChars));
    m_bVsync = display.Get(L"m_bVsync").AsBool();
    m_bFullScreen = display.Get(L"m_bFullScreen").AsBool();
    m_iResX = display.Get(L"m_iResX").AsInt();
    m_iResY = display.Get(L"m_iResY").AsInt();

    SettingValue low_energy(doc.Get(kPerfSection, L"m_bLowEnergyCost", L"FALSE", kMaxValueChars));
    m_bLowEnergyCost = low_energy.AsBool() ? 1 : 0;
}

int PerfSwitchSettings::Save() const {
    LauncherLog& log = LauncherLog::Instance();
    IniDocument perf;
    // A file that cannot be read as INI text is left alone rather than replaced by the
    // three keys written here.
    if (perf_switch_path_.empty() || !IniUsable(LoadIniFile(perf_switch_path_, perf))) {
        log.Write(L"PerfSwitchSettings: cannot read \"%ls\" for saving\n", perf_switch_path_.c_str());
        return 0;
    }
    perf.Set(kPerfSection, L"m_curGraphicOption",
             FormatText(L"(m_iCharMatDetail=%d,m_iSceneMatDetail=%d,m_iParticleLodBias=%d,"
                        L"m_iShadowQuality=%d,m_iTextureDetail=%d,m_bFacialAnim=%ls, "
                        L"m_bCharPhysics=%ls,m_bFullScreenBloom=%ls,m_bDOF=%ls)",
                        m_iCharMatDetail, m_iSceneMatDetail, m_iParticleLodBias, m_iShadowQuality,
                        m_iTextureDetail, TrueFalse(m_bFacialAnim), TrueFalse(m_bCharPhysics),
                        TrueFalse(m_bFullScreenBloom), TrueFalse(m_bDOF)));
    perf.Set(kPerfSection, L"m_curDisplayOption",
             FormatText(L"(m_bFullScreen=%ls,m_iResX=%d,m_iResY=%d,m_bVSync=%ls,m_iFullScreenAA=0)",
                        TrueFalse(m_bFullScreen), m_iResX, m_iResY, TrueFalse(m_bVsync)));
    perf.Set(kPerfSection, L"m_bLowEnergyCost", m_bLowEnergyCost != 0 ? L"True" : L"False");
    if (!SaveIniFile(perf_switch_path_, perf)) {
        log.Write(L"PerfSwitchSettings: cannot write \"%ls\"\n", perf_switch_path_.c_str());
        return 0;
    }

    IniDocument engine;
    if (engine_path_.empty() || !IniUsable(LoadIniFile(engine_path_, engine))) {
        log.Write(L"PerfSwitchSettings: cannot read \"%ls\" for saving\n", engine_path_.c_str());
        return -1;
    }
    const int32_t density = m_iParticleLodBias < 0 ? 0 : (m_iParticleLodBias > 2 ? 2 : m_iParticleLodBias);
    const SceneDetail& scene =
        kSceneDetails[(m_iSceneMatDetail >= 1 && m_iSceneMatDetail <= 3) ? m_iSceneMatDetail : 0];
    const bool simple_shadow = m_iShadowQuality == 0;
    const struct {
        const wchar_t* key;
        std::wstring value;
    } engine_keys[] = {
        {L"AvatarPhysicsQuality", m_bCharPhysics ? L"1" : L"0"},
        {L"DepthOfField", TrueFalse(m_bDOF)},
        {L"AvatarFaceEmotionQuality", m_bFacialAnim ? L"1" : L"0"},
        {L"Bloom", TrueFalse(m_bFullScreenBloom)},
        {L"AvatarMaterialQuality", std::to_wstring(m_iCharMatDetail)},
        {L"ParticleLODBias", std::to_wstring(2 - density)},
        {L"DetailMode", scene.detail_mode},
        {L"LensFlares", scene.lens_flares},
        {L"Distortion", scene.distortion},
        {L"FogVolumes", scene.fog_volumes},
        {L"FoliageDrawRadiusMultiplier", scene.foliage_radius},
        {L"EnableSimpleShadow", TrueFalse(simple_shadow)},
        {L"DynamicShadows", TrueFalse(!simple_shadow)},
    };
    for (const auto& key : engine_keys) engine.Set(kEngineSection, key.key, key.value);

    // The whole value is read back: a group is rewritten from what was read, so cutting it
    // at the read buffer would drop its last fields from the file.
    const wchar_t* lod_bias = m_iTextureDetail == 0 ? L"1" : L"0";
    for (const wchar_t* group : kTextureGroups) {
        StructText value = StructText::Parse(engine.Get(kEngineSection, group, L""));
        value.Set(L"LODBias", lod_bias);
        engine.Set(kEngineSection, group, value.Format());
    }
    if (!SaveIniFile(engine_path_, engine)) {
        log.Write(L"PerfSwitchSettings: cannot write \"%ls\"\n", engine_path_.c_str());
        return -1;
    }
    return 1;
}

}  // namespace velm
