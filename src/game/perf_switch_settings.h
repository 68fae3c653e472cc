#pragma once
// The game's graphics settings as the settings dialog edits them. They live in two INI
// files of the game in the player's documents folder: the performance switch file (read
// and written here) and the engine file (only written: the engine switches, detail tables
// and texture groups derived from the options). Every write replaces one key in place and
// keeps all other keys and sections of both files.
//
// Two keys of the performance switch file hold structured values in the game's struct
// notation, "(" name "=" value { "," name "=" value } ")"; StructText reads and writes them.
//
// Not thread-safe; the dialog owns its model on the window thread.
#include <cstdint>
#include <map>
#include <string>

namespace velm {

// The two files, relative to the user's documents folder.
extern const wchar_t kPerfSwitchFileInDocuments[];  // "\\Emberly\\VelmGame\\Config\\VelmPerfSwitch.ini"
extern const wchar_t kEngineFileInDocuments[];      // "\\Emberly\\VelmGame\\Config\\VelmEngine.ini"

// One field of a structured value: its raw text and the two readings of it.
class SettingValue {
public:
    SettingValue() = default;
    explicit SettingValue(std::wstring text) : text_(std::move(text)) {}

    const std::wstring& text() const { return text_; }
    // "FALSE" / "TRUE" in any letter case, otherwise the integer reading is not 0.
    bool AsBool() const;
    // Leading blanks, an optional sign, then digits; 0 without digits. Values beyond 32
    // bits are held at the 32-bit limits.
    int32_t AsInt() const;

private:
    std::wstring text_;
};

// Orders names by character code with A to Z taken as lower case; names that differ only
// in that way are the same field.
struct FieldNameLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
};

class StructText {
public:
    // Fields in the order of the notation above; text the notation does not hold (no "(",
    // a last field followed by neither "," nor ")") yields no field. Names lose their
    // surrounding blanks and tabs; values are kept as written. A later duplicate replaces
    // an earlier one.
    static StructText Parse(const std::wstring& raw);

    // An absent field reads as empty text, false and 0.
    SettingValue Get(const std::wstring& name) const;
    // Replaces the value of a field under its existing spelling, or adds the field.
    void Set(const std::wstring& name, const std::wstring& value);
    // "(" name "=" value joined by "," ")", fields in name order.
    std::wstring Format() const;

    const std::map<std::wstring, SettingValue, FieldNameLess>& fields() const { return fields_; }

private:
    std::map<std::wstring, SettingValue, FieldNameLess> fields_;
};

class PerfSwitchSettings {
public:
    // Values longer than this are cut when read (the system's read buffer of 1024).
    static constexpr size_t kMaxValueChars = 1023;

    // Reads the model from the performance switch file; remembers both paths for Save.
    // Never fails: missing files, sections or keys (or empty paths) give false and 0.
    void Load(const std::wstring& perf_switch_path, const std::wstring& engine_path);

    // Writes both files. 1 when both were written; 0 when the performance switch file
    // could not be written (nothing at all was written then); -1 when it was but the engine
    // file could not be (the failure is logged rather than passed over in silence).
    int Save() const;

    int32_t m_iCharMatDetail = 0;
    int32_t m_iSceneMatDetail = 0;
    int32_t m_iParticleLodBias = 0;
    int32_t m_iShadowQuality = 0;
    int32_t m_iTextureDetail = 0;
    bool m_bFacialAnim = false;
    bool m_bCharPhysics = false;
    bool m_bFullScreenBloom = false;
    bool m_bDOF = false;
    bool m_bFullScreen = false;
    bool m_bVsync = false;
    int32_t m_iResX = 0;
    int32_t m_iResY = 0;
    int32_t m_bLowEnergyCost = 0;

    const std::wstring& perf_switch_path() const { return perf_switch_path_; }
    const std::wstring& engine_path() const { return engine_path_; }

private:
    std::wstring perf_switch_path_;
    std::wstring engine_path_;
};

}  // namespace velm
