#include "services/machine_id_win32.h"

#include <winsock2.h>

#include <gtest/gtest.h>

#include <regex>

#include "common/text.h"
#include "services/resolve_host_win32.h"

namespace velm {
namespace {

TEST(MachineId, AdapterDigitsBarAndVolumeSerial) {
    std::wstring id = MachineId();
    // The serial is "%X": upper-case digits without leading zeros, empty without a volume.
    EXPECT_TRUE(std::regex_match(id, std::wregex(L"[0-9A-F]{12}\\|([1-9A-F][0-9A-F]{0,7}|0)?")))
        << WideToUtf8(id);
    EXPECT_EQ(MachineId(), id);  // stable within a run
}

TEST(ResolveHostIp, NumericAndEmptyHosts) {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
    struct Case {
        const wchar_t* host;
        const wchar_t* ip;
    } cases[] = {
        {L"127.0.0.1", L"127.0.0.1"},
        // The texts that show the address say IPv4: an IPv6 literal has none.
        {L"::1", L""},
        {L"", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(ResolveHostIp(c.host), c.ip) << WideToUtf8(c.host);
    WSACleanup();
}

}  // namespace
}  // namespace velm
