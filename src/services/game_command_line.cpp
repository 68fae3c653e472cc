#include "services/game_command_line.h"

#include "services/server_status.h"

namespace velm {
namespace {

// System error codes, named here because this file is platform-free.
constexpr int kErrorInvalidParameter = 87;
constexpr int kErrorInsufficientBuffer = 122;

// The client splits its command line by the C runtime's rules: inside quotes only '"' and
// backslashes before a '"' mean anything. A value ending in '\' would turn its closing
// quote into a literal one (or lose half its backslashes), so the next piece's text would
// become arguments of its own; NUL would end the line early.
bool CanQuote(const std::wstring& value) {
    return value.find(L'"') == std::wstring::npos && value.find(L'\0') == std::wstring::npos &&
           (value.empty() || value.back() != L'\\');
}

}  // namespace

const wchar_t kEventLaunchClicked[] = L"launch_clicked";
const wchar_t kEventNotSelectServer[] = L"not_select_server";
const wchar_t kEventStartGame[] = L"start_game";
const wchar_t kEventStartGameFailed[] = L"start_game_failed";

ServerRecord ChosenServer(const ServerListModel& model, long realm_position, long server_position) {
    const std::vector<RealmEntry>& realms = model.realms();
    if (realm_position < 0 || size_t(realm_position) >= realms.size()) return ServerRecord();
    const std::vector<ServerRecord>& servers = realms[size_t(realm_position)].servers;
    if (server_position < 0 || size_t(server_position) >= servers.size()) return ServerRecord();
    return servers[size_t(server_position)];
}

bool HasForceLaunchSwitch(const std::wstring& process_command_line) {
    return process_command_line.find(L"-FORCELAUNCH") != std::wstring::npos;
}

LaunchCheck CheckLaunchChoice(const ServerRecord& chosen, bool force_launch) {
    if (chosen.passport_ip.empty()) return {true, kStringSelectServer, kEventNotSelectServer};
    bool unavailable = chosen.enabled == 0 || chosen.state_code == kServerStateUnavailable;
    if (unavailable && !force_launch) return {true, kStringServerUnavailable, nullptr};
    return {false, 0, nullptr};
}

ComposeResult ComposeGameCommandLine(const std::wstring& fixed_arguments, const ServerRecord& server,
                                     std::wstring& line) {
    struct Piece {
        const wchar_t* prefix;
        const std::wstring& value;
        bool always;
    };
    const Piece pieces[] = {
        {L" -TELProxy=\"", server.tel_proxy, true},
        {L" -CNCProxy=\"", server.cnc_proxy, true},
        {L" -EDUProxy=\"", server.edu_proxy, true},
        {L" -TServerName=\"", server.server_name, true},
        {L" -TSERVERID=\"", server.server_id, false},
        {L" -PASSPORTSVRIP=\"", server.passport_ip, false},
        {L" -IpMap=\"", server.ip_map, false},
        {L" -CreateAccountURL=\"", server.create_account_url, false},
    };
    line.clear();
    std::wstring composed = fixed_arguments;
    for (const Piece& piece : pieces) {
        if (!piece.always && piece.value.empty()) continue;
        if (!CanQuote(piece.value)) return ComposeResult::kQuoteInValue;
        composed += piece.prefix;
        composed += piece.value;
        composed += L'"';
        if (composed.size() > kGameCommandLineMaxChars) return ComposeResult::kTooLong;
    }
    if (composed.size() > kGameCommandLineMaxChars) return ComposeResult::kTooLong;
    line = std::move(composed);
    return ComposeResult::kOk;
}

std::wstring ComposeFailureCode(ComposeResult result) {
    switch (result) {
        case ComposeResult::kOk: return L"0";
        case ComposeResult::kTooLong: return std::to_wstring(kErrorInsufficientBuffer);
        case ComposeResult::kQuoteInValue: return std::to_wstring(kErrorInvalidParameter);
    }
    return L"0";
}

}  // namespace velm
