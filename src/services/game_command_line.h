#pragma once
// The decisions of the game start that need no window: whether the chosen server may be
// started, and the client's command line. The window shows the string, sends the event
// and creates the process.
#include <cstdint>
#include <string>

#include "common/string_ids.h"
#include "services/server_list.h"

namespace velm {

// Statistics events of the game start.
extern const wchar_t kEventLaunchClicked[];    // "launch_clicked"
extern const wchar_t kEventNotSelectServer[];  // "not_select_server"
extern const wchar_t kEventStartGame[];        // "start_game"
extern const wchar_t kEventStartGameFailed[];  // "start_game_failed"

// The record of the player's choice: the server at server_position of the realm at
// realm_position in the model (the positions the lists keep as item data), or an empty
// record when either is outside the model.
ServerRecord ChosenServer(const ServerListModel& model, long realm_position, long server_position);

// "-FORCELAUNCH" anywhere in the launcher's full process command line (case-sensitive).
bool HasForceLaunchSwitch(const std::wstring& process_command_line);

struct LaunchCheck {
    bool refused;          // false: the start may go ahead
    int string_id;         // the message to show when refused, else 0
    const wchar_t* event;  // the statistics event of the refusal, or nullptr
};
LaunchCheck CheckLaunchChoice(const ServerRecord& chosen, bool force_launch);

// The client's command line holds at most this many characters (a buffer of 1024).
constexpr size_t kGameCommandLineMaxChars = 1023;

enum class ComposeResult {
    kOk,
    kTooLong,       // would not fit kGameCommandLineMaxChars
    kQuoteInValue,  // a value holds '"' or NUL, or ends in '\', and would break out of its quotes
};

// fixed_arguments (the built-in text) verbatim, then one " -Switch=\"value\"" piece per
// field: TEL, CNC and EDU proxies and the server name always, then the server id, passport
// server IP, IP map and create-account URL when they are not empty. Values go in unchanged;
// a value that cannot (a quote would end its piece early, a final backslash would make its
// closing quote literal, and either lets following text become switches of their own)
// refuses the composition rather than handing the client a different argument list. On
// failure line is left empty.
ComposeResult ComposeGameCommandLine(const std::wstring& fixed_arguments, const ServerRecord& server,
                                     std::wstring& line);

// The extra field of "start_game_failed" for a command line that was refused before any
// process was created: the system error code the condition corresponds to, in decimal.
std::wstring ComposeFailureCode(ComposeResult result);

}  // namespace velm
