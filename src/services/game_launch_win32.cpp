#include "services/game_launch_win32.h"

#include <windows.h>

#include "common/handle_win32.h"
#include "common/log.h"
#include "common/text.h"
#include "services/game_command_line.h"
#include "services/report_list_win32.h"

namespace velm {
namespace {

const wchar_t kErrorCaption[] = L"Error";

LaunchOutcome Fail(TGameLaunchWindow& window, const std::wstring& error_code) {
    PostLauncherReport(kEventStartGameFailed, error_code);
    window.ShowLaunchMessage(kStringStartFailed, kErrorCaption);
    return LaunchOutcome::kFailed;
}

}  // namespace

LaunchOutcome LaunchGame(ServerListStore& store, const GameLaunchInputs& inputs, TGameLaunchWindow& window) {
    PostLauncherReport(kEventLaunchClicked, L"");
    window.ShowChoiceHints();

    ServerRecord chosen = store.ChosenServer();
    LaunchCheck check = CheckLaunchChoice(chosen, HasForceLaunchSwitch(inputs.process_command_line));
    if (check.refused) {
        if (check.event) PostLauncherReport(check.event, L"");
        window.ShowLaunchMessage(check.string_id, nullptr);
        return LaunchOutcome::kRefused;
    }

    // Whatever happens now, the final reports get the longer wait before the exit.
    SetReportWaitTime(kReportWaitAfterGameStartMs);
    LauncherLog& log = LauncherLog::Instance();
    std::wstring line;
    ComposeResult composed = ComposeGameCommandLine(inputs.fixed_arguments, chosen, line);
    if (composed != ComposeResult::kOk) {
        // Cutting the line would hand the client a different argument list.
        log.Write(L"LaunchGame: the command line for server %ls cannot be composed (%ls)\n",
                  chosen.server_name.c_str(),
                  composed == ComposeResult::kTooLong ? L"longer than 1023 characters"
                                                      : L"a value holds a quote");
        return Fail(window, ComposeFailureCode(composed));
    }

    // The system may write into the command line, so it gets a buffer of its own.
    wchar_t buffer[kGameCommandLineMaxChars + 1] = {};
    line.copy(buffer, kGameCommandLineMaxChars);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(inputs.game_executable.c_str(), buffer, nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        int error = int(GetLastError());
        log.Write(L"LaunchGame: cannot start %ls, error %d\n", inputs.game_executable.c_str(), error);
        return Fail(window, FormatText(L"%d", error));
    }
    // The client runs on by itself: nothing waits for it.
    UniqueHandle process_handle(process.hProcess);
    UniqueHandle thread_handle(process.hThread);
    PostLauncherReport(kEventStartGame, L"");
    window.CloseAfterLaunch();
    return LaunchOutcome::kStarted;
}

}  // namespace velm
