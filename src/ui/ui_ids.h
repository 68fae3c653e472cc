#pragma once
// Resource ids of the windows' dialogs, controls and skin bitmaps; the resource script
// src/ui/res/launcher.rc uses the same numbers. The texts' ids are in common/string_ids.h.

#include "common/string_ids.h"

namespace velm {

enum DialogTemplateId : int {
    kDialogGameConfig = 150,
    kDialogErrorResult = 151,
};

// Controls of the game settings dialog.
enum GameConfigControlId : int {
    kButtonDefaults = 5,
    kSliderCharMatDetail = 1041,
    kSliderTextureDetail = 1042,
    kSliderSceneMatDetail = 1044,
    kSliderParticleLodBias = 1045,
    kSliderShadowQuality = 1046,
    kCheckFullScreenBloom = 1047,
    kCheckDof = 1048,
    kCheckFacialAnim = 1049,
    kCheckCharPhysics = 1050,
    kCheckVsync = 1051,
    kCheckLowEnergyCost = 1052,
};

// Controls of the error result dialog.
enum ErrorResultControlId : int {
    kErrorReportText = 1017,
    kButtonPatchDownload = 1024,
};

// Skin bitmaps (24 bits, magenta transparent); strips hold frames of equal width.
enum SkinBitmapId : int {
    kBitmapCloseButton = 216,        // 4 frames of 41
    kBitmapBackground = 218,         // 746 x 580
    kBitmapProgressFill = 219,       // 539 x 15
    kBitmapProgressTrack = 220,      // 539 x 15
    kBitmapMinimiseButton = 221,     // 4 frames of 40
    kBitmapHomePageButton = 222,     // 4 frames of 97
    kBitmapPatchButton = 223,        // 4 frames of 97
    kBitmapAccountButton = 224,      // 4 frames of 97
    kBitmapSettingsButton = 225,     // 4 frames of 97
    kBitmapMainCancel = 226,         // 4 frames of 135
    kBitmapMainPlay = 227,           // 4 frames of 135
    kBitmapMainUpdate = 228,         // 4 frames of 135
    kBitmapPlusButton = 230,         // 4 frames of 30
    kBitmapServerStatus = 236,       // 5 frames of 11
    kBitmapServerBadges = 237,       // 42 frames of 18
    kBitmapServerRows = 238,         // 3 frames of 163
    kBitmapHintRealm = 258,          // 2 frames of 182
    kBitmapHintArrow = 259,          // 2 frames of 66
    kBitmapHintServers = 260,        // 2 frames of 182
};

// The width of one frame of each strip above.
inline constexpr int kCloseButtonFrameWidth = 41;
inline constexpr int kMinimiseButtonFrameWidth = 40;
inline constexpr int kPageButtonFrameWidth = 97;  // home page, patch, account, settings
inline constexpr int kMainButtonFrameWidth = 135;  // each of its faces: cancel, play, update
inline constexpr int kPlusButtonFrameWidth = 30;
inline constexpr int kServerStatusFrameWidth = 11;
inline constexpr int kServerBadgeFrameWidth = 18;
inline constexpr int kServerRowFrameWidth = 163;
inline constexpr int kHintRealmFrameWidth = 182;
inline constexpr int kHintArrowFrameWidth = 66;
inline constexpr int kHintServersFrameWidth = 182;

// The main window's template and controls.
inline constexpr int kDialogMain = 152;
inline constexpr int kIconLauncher = 128;
enum MainControlId : int {
    kMainNews = 1000,
    kMainButton = 1001,
    kMainOverallBar = 1004,
    kMainFileBar = 1005,
    kMainRealmList = 1014,
    kMainClose = 1019,
    kMainServerList = 1021,
    kMainFileText = 1022,
    kMainOverallText = 1023,
    kMainAccount = 1024,
    kMainHome = 1025,
    kMainPatch = 1026,
    kMainSettings = 1027,
    kMainOnlineVersion = 1028,
    kMainMinimise = 1029,
    kMainStatusLine = 1030,
    kMainLocalVersion = 1031,
    kMainRepair = 1032,
    kMainPlus = 1033,
    kMainRealmCopy = 1038,
    kMainSelection = 1039,
    kMainSelectionLabel = 1040,
};

// The update window of package mode: its template and controls.
inline constexpr int kDialogUpdate = 153;
enum UpdateControlId : int {
    kUpdateOverallBar = 1004,
    kUpdateFileBar = 1005,
    kUpdateFileText = 1022,
    kUpdateOverallText = 1023,
    kUpdateStatusLine = 1030,
};

// The timer of both run windows that samples the run's progress once a second. A window
// takes the message whenever it comes, so a driver may send it to sample the run at once.
inline constexpr unsigned kTimerProgress = 100;
// The bound on how long a window closed during a run waits for the run's end.
inline constexpr unsigned kTimerCloseBound = 103;

}  // namespace velm
