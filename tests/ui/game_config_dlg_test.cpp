// The game settings dialog, opened for real under Wine and driven by messages: what it
// shows from the files, what "默认设置", "确定" and "取消" do to the controls, the files
// and the statistics server.
#include "ui/game_config_dlg_win32.h"

#include <gtest/gtest.h>
#include <commctrl.h>

#include <cstdlib>
#include <map>

#include "common/file_io.h"
#include "common/ini_file.h"
#include "common/text.h"
#include "services/loopback_env.h"
#include "services/report_list_win32.h"
#include "ui/ui_ids.h"
#include "ui/ui_test_support_win32.h"

namespace velm {
namespace {

using test::RunModal;
using test::TempFolder;

const int kSliderIds[] = {kSliderCharMatDetail, kSliderSceneMatDetail, kSliderTextureDetail,
                          kSliderParticleLodBias, kSliderShadowQuality};
const int kCheckIds[] = {kCheckFacialAnim, kCheckCharPhysics, kCheckDof, kCheckVsync,
                         kCheckFullScreenBloom, kCheckLowEnergyCost};

// What the controls show: slider positions and check marks by control id.
struct Controls {
    std::map<int, int> sliders;
    std::map<int, bool> checks;
};

Controls ReadControls(HWND dialog) {
    Controls shown;
    for (int id : kSliderIds) shown.sliders[id] = int(SendDlgItemMessageW(dialog, id, TBM_GETPOS, 0, 0));
    for (int id : kCheckIds) shown.checks[id] = IsDlgButtonChecked(dialog, id) == BST_CHECKED;
    return shown;
}

void Press(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

std::wstring Fixture(const char* name) {
    const char* root = std::getenv("VELM_SOURCE_DIR");
    return test::WinePath(Utf8ToWide(std::string(root ? root : ".") + "/tests/game/fixtures/" + name));
}

std::string Bytes(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes, 1 << 20)) return "<missing>";
    return std::string(bytes.begin(), bytes.end());
}

class GameConfigDialog : public ::testing::Test {
protected:
    // One owner for the whole suite: without a window manager, Wine waits up to two
    // seconds for every top-level window it takes down.
    static void SetUpTestSuite() { owner_ = new test::TestWindow(100, 100, 300, 200, RGB(40, 40, 40)); }
    static void TearDownTestSuite() {
        delete owner_;
        owner_ = nullptr;
    }
    static test::TestWindow* owner_;

    void SetUp() override {
        const std::wstring record_url = test::Env(L"VELM_RECORD_URL");
        ASSERT_FALSE(record_url.empty()) << "run through tests/servers/serve.py --record";
        // A channel of its own per test keeps the run's duplicate check out of the way.
        static int count = 0;
        channel_ = FormatText(L"ui-settings-%d", ++count);
        InitReports(record_url + L"/click/cs/qv", channel_);
        perf_ = folder_.File(L"VelmPerfSwitch.ini");
        engine_ = folder_.File(L"VelmEngine.ini");
    }
    void TearDown() override { WaitForReportThreads(); }

    void UseFixtures() {
        ASSERT_TRUE(CopyFileW(Fixture("VelmPerfSwitch.ini").c_str(), perf_.c_str(), FALSE));
        ASSERT_TRUE(CopyFileW(Fixture("VelmEngine.ini").c_str(), engine_.c_str(), FALSE));
    }
    void WritePerf(const std::string& text) {
        ASSERT_TRUE(WriteWholeFile(perf_, text.data(), text.size()));
    }

    INT_PTR Run(const std::function<void(HWND)>& drive) {
        GameConfigDlg dialog(perf_, engine_);
        return RunModal([&] { return dialog.DoModal(owner_->Get()); }, drive);
    }

    // How many change_settings reports of this test reached the server.
    int SettingsReports() {
        WaitForReportThreads();
        const std::string event = WideToUtf8(L"&f1=change_settings&f2=" + channel_);
        int found = 0;
        for (const std::string& body : test::RecordedBodies()) {
            if (body.size() >= event.size() && body.compare(body.size() - event.size(), event.size(), event) == 0) {
                ++found;
            }
        }
        return found;
    }

    TempFolder folder_;
    std::wstring perf_, engine_, channel_;
};

test::TestWindow* GameConfigDialog::owner_ = nullptr;

TEST_F(GameConfigDialog, ShowsTheFilesValuesOnSlidersOfTheirRanges) {
    struct Case {
        const char* name;
        std::string perf;  // empty: no file at all
        std::map<int, int> sliders;
        std::map<int, bool> checks;
    } cases[] = {
        {"fixture", "",
         {{kSliderCharMatDetail, 1}, {kSliderSceneMatDetail, 3}, {kSliderTextureDetail, 0},
          {kSliderParticleLodBias, 1}, {kSliderShadowQuality, 1}},
         {{kCheckFacialAnim, true}, {kCheckCharPhysics, false}, {kCheckDof, false},
          {kCheckVsync, false}, {kCheckFullScreenBloom, true}, {kCheckLowEnergyCost, true}}},
        {"values beyond the ranges show at the nearer end",
         "[TCore.TPerfSwitch]\r\nm_curGraphicOption=(m_iParticleLodBias=5,m_iSceneMatDetail=-1,"
         "m_iCharMatDetail=7,m_bDOF=1)\r\nm_curDisplayOption=(m_bVSync=TRUE)\r\n",
         {{kSliderCharMatDetail, 1}, {kSliderSceneMatDetail, 0}, {kSliderTextureDetail, 0},
          {kSliderParticleLodBias, 2}, {kSliderShadowQuality, 0}},
         {{kCheckFacialAnim, false}, {kCheckCharPhysics, false}, {kCheckDof, true},
          {kCheckVsync, true}, {kCheckFullScreenBloom, false}, {kCheckLowEnergyCost, false}}},
        {"no files", "<none>",
         {{kSliderCharMatDetail, 0}, {kSliderSceneMatDetail, 0}, {kSliderTextureDetail, 0},
          {kSliderParticleLodBias, 0}, {kSliderShadowQuality, 0}},
         {{kCheckFacialAnim, false}, {kCheckCharPhysics, false}, {kCheckDof, false},
          {kCheckVsync, false}, {kCheckFullScreenBloom, false}, {kCheckLowEnergyCost, false}}},
    };
    const std::map<int, int> maxima = {{kSliderCharMatDetail, 1}, {kSliderSceneMatDetail, 3},
                                       {kSliderTextureDetail, 1}, {kSliderParticleLodBias, 2},
                                       {kSliderShadowQuality, 1}};
    for (const Case& c : cases) {
        RemoveFile(perf_);
        RemoveFile(engine_);
        if (c.perf.empty()) {
            UseFixtures();
        } else if (c.perf != "<none>") {
            WritePerf(c.perf);
        }
        const std::string before = Bytes(perf_);
        Controls shown;
        std::map<int, std::pair<int, int>> ranges;
        INT_PTR result = Run([&](HWND dialog) {
            shown = ReadControls(dialog);
            for (int id : kSliderIds) {
                ranges[id] = {int(SendDlgItemMessageW(dialog, id, TBM_GETRANGEMIN, 0, 0)),
                              int(SendDlgItemMessageW(dialog, id, TBM_GETRANGEMAX, 0, 0))};
            }
            Press(dialog, IDCANCEL);
        });
        EXPECT_EQ(result, IDCANCEL) << c.name;
        EXPECT_EQ(shown.sliders, c.sliders) << c.name;
        EXPECT_EQ(shown.checks, c.checks) << c.name;
        for (const auto& [id, maximum] : maxima) {
            EXPECT_EQ(ranges[id], std::make_pair(0, maximum)) << c.name << " slider " << id;
        }
        EXPECT_EQ(Bytes(perf_), before) << c.name;
        EXPECT_EQ(Bytes(engine_), c.perf.empty() ? Bytes(Fixture("VelmEngine.ini")) : "<missing>") << c.name;
    }
}

TEST_F(GameConfigDialog, DefaultsChangeOnlyTheControlsAndKeepTheLowEnergyBox) {
    for (bool low_energy : {true, false}) {
        WritePerf(std::string("[TCore.TPerfSwitch]\r\nm_curGraphicOption=(m_iCharMatDetail=0,"
                              "m_iSceneMatDetail=0,m_iParticleLodBias=0,m_iShadowQuality=1,"
                              "m_iTextureDetail=0,m_bFacialAnim=false, m_bCharPhysics=true,"
                              "m_bFullScreenBloom=false,m_bDOF=true)\r\n"
                              "m_curDisplayOption=(m_bVSync=true)\r\nm_bLowEnergyCost=") +
                  (low_energy ? "True" : "False") + "\r\n");
        const std::string before = Bytes(perf_);
        Controls shown;
        INT_PTR result = Run([&](HWND dialog) {
            Press(dialog, kButtonDefaults);
            shown = ReadControls(dialog);
            Press(dialog, IDCANCEL);
        });
        EXPECT_EQ(result, IDCANCEL);
        const std::map<int, int> sliders = {{kSliderCharMatDetail, 1}, {kSliderSceneMatDetail, 2},
                                            {kSliderTextureDetail, 1}, {kSliderParticleLodBias, 2},
                                            {kSliderShadowQuality, 0}};
        const std::map<int, bool> checks = {{kCheckFacialAnim, true}, {kCheckCharPhysics, false},
                                            {kCheckDof, false}, {kCheckVsync, false},
                                            {kCheckFullScreenBloom, true}, {kCheckLowEnergyCost, low_energy}};
        EXPECT_EQ(shown.sliders, sliders) << low_energy;
        EXPECT_EQ(shown.checks, checks) << low_energy;
        EXPECT_EQ(Bytes(perf_), before);
        EXPECT_EQ(Bytes(engine_), "<missing>");
    }
    EXPECT_EQ(SettingsReports(), 0);
}

TEST_F(GameConfigDialog, CancelEscapeAndCloseWriteNothingAndReportNothing) {
    struct Case {
        const char* name;
        std::function<void(HWND)> close;
    } cases[] = {
        {"取消", [](HWND dialog) { Press(dialog, IDCANCEL); }},
        {"close box", [](HWND dialog) { SendMessageW(dialog, WM_CLOSE, 0, 0); }},
        {"Escape", [](HWND dialog) {
             HWND focus = GetDlgItem(dialog, kSliderCharMatDetail);
             SetFocus(focus);
             MSG key{focus, WM_KEYDOWN, VK_ESCAPE, 0, 0, {}};
             IsDialogMessageW(dialog, &key);
         }},
    };
    for (const Case& c : cases) {
        UseFixtures();
        const std::string perf_before = Bytes(perf_), engine_before = Bytes(engine_);
        INT_PTR result = Run([&](HWND dialog) {
            SendDlgItemMessageW(dialog, kSliderParticleLodBias, TBM_SETPOS, TRUE, 0);
            CheckDlgButton(dialog, kCheckVsync, BST_CHECKED);
            Press(dialog, kButtonDefaults);
            c.close(dialog);
        });
        EXPECT_EQ(result, IDCANCEL) << c.name;
        EXPECT_EQ(Bytes(perf_), perf_before) << c.name;
        EXPECT_EQ(Bytes(engine_), engine_before) << c.name;
    }
    EXPECT_EQ(SettingsReports(), 0);
}

TEST_F(GameConfigDialog, OkWritesTheControlsToBothFilesAndReportsTheChange) {
    UseFixtures();
    INT_PTR result = Run([&](HWND dialog) {
        SendDlgItemMessageW(dialog, kSliderParticleLodBias, TBM_SETPOS, TRUE, 0);
        SendDlgItemMessageW(dialog, kSliderTextureDetail, TBM_SETPOS, TRUE, 1);
        Press(dialog, kCheckFullScreenBloom);  // on in the file: now off
        Press(dialog, kCheckVsync);            // off in the file: now on
        Press(dialog, kCheckLowEnergyCost);    // on in the file: now off
        Press(dialog, IDOK);
    });
    EXPECT_EQ(result, IDOK);

    auto perf = [&](const wchar_t* section, const wchar_t* key) {
        return WideToUtf8(ReadIniString(perf_, section, key, L"<absent>"));
    };
    auto engine = [&](const wchar_t* key) {
        return WideToUtf8(ReadIniString(engine_, L"SystemSettings", key, L"<absent>"));
    };
    EXPECT_EQ(perf(L"TCore.TPerfSwitch", L"m_curGraphicOption"),
              "(m_iCharMatDetail=1,m_iSceneMatDetail=3,m_iParticleLodBias=0,m_iShadowQuality=1,"
              "m_iTextureDetail=1,m_bFacialAnim=true, m_bCharPhysics=false,"
              "m_bFullScreenBloom=false,m_bDOF=false)");
    // Full screen and resolution are not on the dialog and go back as they were read.
    EXPECT_EQ(perf(L"TCore.TPerfSwitch", L"m_curDisplayOption"),
              "(m_bFullScreen=true,m_iResX=1680,m_iResY=1050,m_bVSync=true,m_iFullScreenAA=0)");
    EXPECT_EQ(perf(L"TCore.TPerfSwitch", L"m_bLowEnergyCost"), "False");
    EXPECT_EQ(perf(L"TCore.TPerfSwitch", L"m_iPerfLevel"), "2");
    EXPECT_EQ(perf(L"Core.System", L"Paths"), "..\\..\\VelmGame\\Content");
    EXPECT_EQ(perf(L"TCore.TSound", L"MasterVolume"), "0.8");

    const std::map<std::wstring, std::string> engine_keys = {
        {L"ParticleLODBias", "2"}, {L"Bloom", "false"},       {L"DepthOfField", "false"},
        {L"AvatarMaterialQuality", "1"}, {L"DetailMode", "2"}, {L"Distortion", "true"},
        {L"EnableSimpleShadow", "false"}, {L"DynamicShadows", "true"},
    };
    for (const auto& [key, value] : engine_keys) EXPECT_EQ(engine(key.c_str()), value) << WideToUtf8(key);
    // Texture detail 1: every group's LODBias becomes 0, under the spelling it had.
    EXPECT_EQ(engine(L"TEXTUREGROUP_Character"),
              "(lodbias=0,MaxLODSize=1024,MinLODSize=256,MinMagFilter=aniso,MipFilter=point)");
    EXPECT_EQ(engine(L"TEXTUREGROUP_Lightmap"), "(LODBias=0)");
    // Whole files: exactly what the model writes for the same choices, byte for byte.
    TempFolder model_folder;
    const std::wstring model_perf = model_folder.File(L"VelmPerfSwitch.ini");
    const std::wstring model_engine = model_folder.File(L"VelmEngine.ini");
    ASSERT_TRUE(CopyFileW(Fixture("VelmPerfSwitch.ini").c_str(), model_perf.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(Fixture("VelmEngine.ini").c_str(), model_engine.c_str(), FALSE));
    PerfSwitchSettings model;
    model.Load(model_perf, model_engine);
    model.m_iParticleLodBias = 0;
    model.m_iTextureDetail = 1;
    model.m_bFullScreenBloom = false;
    model.m_bVsync = true;
    model.m_bLowEnergyCost = 0;
    ASSERT_EQ(model.Save(), 1);
    EXPECT_EQ(Bytes(perf_), Bytes(model_perf));
    EXPECT_EQ(Bytes(engine_), Bytes(model_engine));
    EXPECT_EQ(SettingsReports(), 1);
}

TEST_F(GameConfigDialog, OkClosesEvenWhenTheFilesCannotBeWritten) {
    // A documents folder that is gone (or unknown: empty paths): nothing is written anywhere.
    const std::wstring gone = folder_.File(L"missing");
    const std::pair<std::wstring, std::wstring> places[] = {
        {gone + L"\\VelmPerfSwitch.ini", gone + L"\\VelmEngine.ini"},
        {L"", L""},
    };
    for (const auto& [perf, engine] : places) {
        GameConfigDlg dialog(perf, engine);
        INT_PTR result = RunModal([&] { return dialog.DoModal(owner_->Get()); },
                                  [](HWND window) { Press(window, IDOK); });
        EXPECT_EQ(result, IDOK) << WideToUtf8(perf);
    }
    EXPECT_EQ(GetFileAttributesW(gone.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(SettingsReports(), 1);
}

}  // namespace
}  // namespace velm
