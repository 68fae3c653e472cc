#pragma once
// LaunchGame: the main button's game start. Checks the player's choice, starts the game
// client with the chosen server's command line, reports the outcome and has the window
// close itself when the client runs. Called on the window thread.
#include <string>

#include "services/server_list_store_win32.h"

namespace velm {

// What the game start asks of the main window.
class TGameLaunchWindow {
public:
    // Shows or hides the hints for a missing realm or server choice.
    virtual void ShowChoiceHints() = 0;
    // A modal message box with the string-table text string_id, owned by the main window;
    // a null caption gives the system's default title.
    virtual void ShowLaunchMessage(int string_id, const wchar_t* caption) = 0;
    // The window's own close command: its close handling saves the choice and ends the loop.
    virtual void CloseAfterLaunch() = 0;

protected:
    ~TGameLaunchWindow() = default;
};

struct GameLaunchInputs {
    std::wstring game_executable;       // the built-in path, relative to the current folder
    std::wstring fixed_arguments;       // the built-in start of the client's command line
    std::wstring process_command_line;  // the launcher's own, searched for "-FORCELAUNCH"
};

enum class LaunchOutcome {
    kStarted,  // the client runs; the window has been told to close
    kRefused,  // the choice cannot start the game
    kFailed,   // the client could not be started
};

// Every refusal and failure has already been shown to the player (string 153 with the
// caption "Error" for a failure), so the caller shows nothing more. The client starts in
// the launcher's current folder, the installation folder.
LaunchOutcome LaunchGame(ServerListStore& store, const GameLaunchInputs& inputs, TGameLaunchWindow& window);

}  // namespace velm
