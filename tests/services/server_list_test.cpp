#include "services/server_list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/text.h"

namespace velm {
namespace {

const wchar_t kUrl[] = L"http://127.0.0.1/register";

// A server line of 15 fields; status and badges in the fields the document gives them.
std::wstring Line(const std::wstring& realm, const std::wstring& server, int status = 1,
                  int first_badge = 0, int second_badge = 0) {
    return realm + L"," + server + L",,id-" + server + L"," + std::to_wstring(status) + L"," +
           std::to_wstring(first_badge) + L"," + std::to_wstring(second_badge) +
           L",,,tel,cnc,edu,,1.0,10.0.0.1";
}

// "realm:server" of every record in model order, realms separated by "|".
std::wstring Summary(const ServerListModel& model) {
    std::wstring out;
    for (const RealmEntry& realm : model.realms()) {
        if (!out.empty()) out += L"|";
        for (size_t i = 0; i < realm.servers.size(); ++i) {
            if (i > 0) out += L" ";
            out += realm.name + L":" + realm.servers[i].server_name;
        }
    }
    return out;
}

TEST(ServerList, BuildsARecordFromTheFieldsOfALine) {
    ServerListModel model;
    ServerListParseStats stats = model.ParseServerList(
        L"SERVER_BEGIN\r\nR,S,,7,1,0,0,,,a,b,c,,1.0,10.0.0.1\r\nSERVER_END\r\n", kUrl);
    EXPECT_EQ(stats.accepted, 1u);
    const RealmEntry* realm = model.FindRealm(L"R");
    ASSERT_NE(realm, nullptr);
    ASSERT_EQ(realm->servers.size(), 1u);
    const ServerRecord& s = realm->servers[0];
    EXPECT_EQ(s.realm_name, L"R");
    EXPECT_EQ(s.server_name, L"S");
    EXPECT_EQ(s.server_id, L"7");
    EXPECT_EQ(s.tel_proxy, L"a");
    EXPECT_EQ(s.cnc_proxy, L"b");
    EXPECT_EQ(s.edu_proxy, L"c");
    EXPECT_EQ(s.client_version, L"1.0");
    EXPECT_EQ(s.passport_ip, L"10.0.0.1");
    EXPECT_EQ(s.create_account_url, kUrl);
    EXPECT_EQ(s.ip_map, L"");
    EXPECT_EQ(s.gate_ip, L"");
    EXPECT_EQ(s.enabled, 1);
    EXPECT_EQ(s.load_code, 75);
    EXPECT_EQ(s.load_maximum, 100);
    EXPECT_EQ(s.state_code, 0);
    EXPECT_EQ(s.first_badge_flag, 0);
    EXPECT_EQ(s.second_badge_flag, 0);
}

TEST(ServerList, DocumentShapes) {
    const std::wstring a = Line(L"R", L"a"), b = Line(L"R", L"b"), c = Line(L"Q", L"c");
    const std::wstring a14 = a.substr(0, a.rfind(L','));  // passport field gone: 14 fields
    struct Case {
        const char* name;
        std::wstring text;
        std::wstring expected;
    } cases[] = {
        {"crlf lines", L"SERVER_BEGIN\r\n" + a + L"\r\nSERVER_END\r\n", L"R:a"},
        {"lf lines, no final line end", L"SERVER_BEGIN\n" + a + L"\nSERVER_END", L"R:a"},
        {"carriage returns anywhere are removed", L"SERVER_\rBEGIN\n" + a + L"\r\r\n", L"R:a"},
        {"leading blank does not open", L" SERVER_BEGIN\n" + a + L"\nSERVER_END\n", L""},
        {"trailing blank does not open", L"SERVER_BEGIN \n" + a + L"\nSERVER_END\n", L""},
        {"lower case does not open", L"server_begin\n" + a + L"\n", L""},
        {"lines outside blocks ignored",
         a + L"\nnoise\nSERVER_BEGIN\n" + b + L"\nSERVER_END\n" + c + L"\n", L"R:b"},
        {"unclosed block runs to the end", L"SERVER_BEGIN\n" + a + L"\n" + c, L"R:a|Q:c"},
        {"trailing comma still 15 fields", L"SERVER_BEGIN\n" + a + L",\n", L"R:a"},
        {"14 fields ignored", L"SERVER_BEGIN\n" + a14 + L"\n" + b + L"\n", L"R:b"},
        {"14 fields and a final comma ignored", L"SERVER_BEGIN\n" + a14 + L",\n", L""},
        {"fields after the 15th ignored", L"SERVER_BEGIN\n" + a + L",x,y,z\n", L"R:a"},
        {"blocks naming one realm merge",
         L"SERVER_BEGIN\n" + a + L"\nSERVER_END\nSERVER_BEGIN\n" + c + L"\n" + b +
             L"\nSERVER_END\n",
         L"R:a R:b|Q:c"},
        {"hidden server dropped with its realm",
         L"SERVER_BEGIN\n" + Line(L"H", L"h", 10) + L"\n" + a + L"\n", L"R:a"},
        {"hidden server dropped, realm kept",
         L"SERVER_BEGIN\n" + Line(L"R", L"h", 10) + L"\n" + a + L"\n", L"R:a"},
        {"empty and blank lines in a block", L"SERVER_BEGIN\n\n \n" + a + L"\n\n", L"R:a"},
        {"empty body", L"", L""},
        {"one character", L"x", L""},
        {"only markers", L"SERVER_BEGIN\nSERVER_END\n", L""},
        {"byte-order mark before the first line", L"\uFEFFSERVER_BEGIN\r\n" + a + L"\r\n",
         L"R:a"},
        {"NUL inside a line drops the line",
         L"SERVER_BEGIN\n" + Line(L"R", std::wstring(L"x\0y", 3)) + L"\n" + b + L"\n", L"R:b"},
        {"realm names are case-sensitive",
         L"SERVER_BEGIN\n" + a + L"\n" + Line(L"r", L"z") + L"\n", L"R:a|r:z"},
    };
    for (const Case& test : cases) {
        ServerListModel model;
        model.ParseServerList(test.text, kUrl);
        EXPECT_EQ(WideToUtf8(Summary(model)), WideToUtf8(test.expected)) << test.name;
    }
}

TEST(ServerList, NonAsciiNamesKeepTheirTextAndFindTheirRealm) {
    ServerListModel model;
    model.ParseServerList(L"SERVER_BEGIN\n" + Line(L"电信一区", L"紫禁之巅") + L"\n" +
                              Line(L"Ünïcödé", L"Bäume") + L"\n",
                          kUrl);
    const RealmEntry* realm = model.FindRealm(L"电信一区");
    ASSERT_NE(realm, nullptr);
    EXPECT_EQ(realm->servers.at(0).server_name, L"紫禁之巅");
    ASSERT_NE(model.FindRealm(L"Ünïcödé"), nullptr);
    EXPECT_EQ(model.FindRealm(L"电信二区"), nullptr);
}

TEST(ServerList, StatusAndBadgeFieldsReadTheirLeadingInteger) {
    struct Case {
        std::wstring status, first, second;
        int32_t load, state, first_flag, second_flag;
    } cases[] = {
        {L"1", L"0", L"0", 75, 0, 0, 0},
        {L" 4", L"1", L"0", 4, 10, 1, 0},
        {L"+2", L"0", L"7", 10, 0, 0, 7},
        {L"7abc", L"x", L"", 7, 0, 0, 0},
        {L"abc", L"-1", L"0", 90, 0, -1, 0},
        {L"-3", L"0", L"0", -3, 0, 0, 0},
        {L"99999999999", L"0", L"0", 2147483647, 0, 0, 0},
        {L"-99999999999", L"0", L"0", -2147483647 - 1, 0, 0, 0},
    };
    for (const Case& c : cases) {
        ServerListModel model;
        model.ParseServerList(L"SERVER_BEGIN\nR,S,,7," + c.status + L"," + c.first + L"," +
                                  c.second + L",,,a,b,c,,1.0,10.0.0.1\n",
                              kUrl);
        ASSERT_EQ(model.server_count(), 1u) << WideToUtf8(c.status);
        const ServerRecord& s = model.realms()[0].servers[0];
        EXPECT_EQ(s.load_code, c.load) << WideToUtf8(c.status);
        EXPECT_EQ(s.state_code, c.state) << WideToUtf8(c.status);
        EXPECT_EQ(s.first_badge_flag, c.first_flag) << WideToUtf8(c.first);
        EXPECT_EQ(s.second_badge_flag, c.second_flag) << WideToUtf8(c.second);
    }
}

TEST(ServerList, ServersOfARealmFollowRankThenDocumentOrder) {
    // Ranks 0, 2, 1, 2 in document order, then a server with both badges (rank 2).
    const std::wstring text = L"SERVER_BEGIN\n" + Line(L"R", L"rank0") + L"\n" +
                              Line(L"R", L"first2", 1, 1, 0) + L"\n" +
                              Line(L"R", L"rank1", 1, 0, 1) + L"\n" +
                              Line(L"R", L"second2", 1, 5, 0) + L"\n" +
                              Line(L"R", L"both2", 1, 1, 1) + L"\n";
    ServerListModel parsed;
    parsed.ParseServerList(text, kUrl);
    const std::wstring expected = L"R:first2 R:second2 R:both2 R:rank1 R:rank0";
    EXPECT_EQ(WideToUtf8(Summary(parsed)), WideToUtf8(expected));

    // AddServer on its own keeps the same order.
    ServerListModel added;
    for (const RealmEntry& realm : parsed.realms()) {
        for (const ServerRecord& record : realm.servers) added.AddServer(record);
    }
    EXPECT_EQ(WideToUtf8(Summary(added)), WideToUtf8(expected));
}

TEST(ServerList, RealmOrdinalsCountOnAcrossRebuilds) {
    ServerListModel model;
    const std::wstring text = L"SERVER_BEGIN\n" + Line(L"B", L"1") + L"\n" + Line(L"A", L"2") +
                              L"\n" + Line(L"B", L"3") + L"\n" + Line(L"C", L"4") + L"\n";
    model.ParseServerList(text, kUrl);
    ASSERT_EQ(model.realms().size(), 3u);
    EXPECT_EQ(model.realms()[0].name, L"B");
    EXPECT_EQ(model.realms()[1].name, L"A");
    EXPECT_EQ(model.realms()[2].name, L"C");
    const int32_t first = model.realms()[0].ordinal;
    EXPECT_EQ(model.realms()[1].ordinal, first + 1);
    EXPECT_EQ(model.realms()[2].ordinal, first + 2);

    model.ParseServerList(text, kUrl);
    ASSERT_EQ(model.realms().size(), 3u);
    EXPECT_EQ(model.realms()[0].ordinal, first + 3);
    EXPECT_EQ(model.realms()[2].ordinal, first + 5);
}

TEST(ServerList, OverlongLinesAreDroppedAndParsingGoesOn) {
    struct Case {
        const char* name;
        size_t name_chars;  // the server name is padded so the line gets its length
        bool kept;
    } cases[] = {
        {"exactly 1023 characters", 1023, true},
        {"1024 characters", 1024, false},
        {"5000 characters", 5000, false},
    };
    const std::wstring tail = L",,7,1,0,0,,,t,c,e,,1.0,10.0.0.1";
    for (const Case& c : cases) {
        const std::wstring line = L"R," + std::wstring(c.name_chars - 2 - tail.size(), L'n') + tail;
        ASSERT_EQ(line.size(), c.name_chars);
        ServerListModel model;
        // The carriage return does not count towards the length.
        ServerListParseStats stats = model.ParseServerList(
            L"SERVER_BEGIN\r\n" + line + L"\r\n" + Line(L"R", L"after") + L"\r\n", kUrl);
        EXPECT_EQ(stats.long_lines, c.kept ? 0u : 1u) << c.name;
        EXPECT_EQ(model.server_count(), c.kept ? 2u : 1u) << c.name;
        EXPECT_EQ(model.realms()[0].servers.back().server_name, L"after") << c.name;
    }
}

TEST(ServerList, TenThousandServersKeepTheirOrder) {
    std::wstring text = L"header text\nSERVER_BEGIN\n";
    for (int i = 0; i < 10000; ++i) {
        text += Line(L"realm" + std::to_wstring(i % 100), std::to_wstring(i), 1, i % 7 == 0, 0);
        text += L"\r\n";
    }
    text += L"SERVER_END\n";
    ServerListModel model;
    ServerListParseStats stats = model.ParseServerList(text, kUrl);
    EXPECT_EQ(stats.accepted, 10000u);
    EXPECT_EQ(model.server_count(), 10000u);
    ASSERT_EQ(model.realms().size(), 100u);
    for (size_t r = 0; r < model.realms().size(); ++r) {
        const RealmEntry& realm = model.realms()[r];
        EXPECT_EQ(realm.name, L"realm" + std::to_wstring(r));
        ASSERT_EQ(realm.servers.size(), 100u);
        int previous_rank = 2, previous = -1;
        for (const ServerRecord& s : realm.servers) {
            int number = std::stoi(WideToUtf8(s.server_name));
            int rank = s.first_badge_flag != 0 ? 2 : 0;
            ASSERT_LE(rank, previous_rank);
            if (rank == previous_rank) {
                ASSERT_GT(number, previous);
            }
            previous_rank = rank;
            previous = number;
        }
    }
}

TEST(ServerList, ServersBeyondTheLimitAreDropped) {
    std::wstring text = L"SERVER_BEGIN\n";
    const std::wstring line = Line(L"R", L"s") + L"\n";
    text.reserve(line.size() * (ServerListModel::kMaxServers + 2));
    for (size_t i = 0; i < ServerListModel::kMaxServers + 2; ++i) text += line;
    ServerListModel model;
    ServerListParseStats stats = model.ParseServerList(text, kUrl);
    EXPECT_EQ(model.server_count(), ServerListModel::kMaxServers);
    EXPECT_EQ(stats.over_limit, 2u);
}

TEST(ServerList, BinaryGarbageNeitherCrashesNorHidesALaterBlock) {
    uint32_t seed = 12345;
    for (int round = 0; round < 20; ++round) {
        std::wstring garbage;
        for (int i = 0; i < 20000; ++i) {
            seed = seed * 1103515245u + 12345u;
            uint32_t pick = (seed >> 16) & 0xFF;
            // Bytes as a code page would turn them into characters, with many separators.
            garbage.push_back(pick < 16 ? L"\n\r,\0"[pick % 4] : wchar_t(pick));
        }
        ServerListModel model;
        model.ParseServerList(garbage, kUrl);
        EXPECT_EQ(model.server_count(), 0u);
        model.ParseServerList(garbage + L"\nSERVER_BEGIN\n" + Line(L"R", L"ok") + L"\n", kUrl);
        EXPECT_EQ(WideToUtf8(Summary(model)), "R:ok");
    }
}

TEST(ServerList, RememberedChoiceIsFoundByName) {
    ServerListModel model;
    model.ParseServerList(L"SERVER_BEGIN\n" + Line(L"A", L"a1") + L"\n" + Line(L"B", L"b1") +
                              L"\n" + Line(L"B", L"b2") + L"\n",
                          kUrl);
    struct Case {
        std::wstring realm, server;
        int realm_index, server_index;
    } cases[] = {
        {L"B", L"b2", 1, 1},
        {L"A", L"a1", 0, 0},
        {L"B", L"gone", 1, -1},
        {L"gone", L"b1", -1, -1},
        {L"b", L"b1", -1, -1},
        {L"", L"", -1, -1},
    };
    for (const Case& c : cases) {
        RememberedChoice choice = FindRememberedChoice(model, c.realm, c.server);
        EXPECT_EQ(choice.realm_index, c.realm_index) << WideToUtf8(c.realm);
        EXPECT_EQ(choice.server_index, c.server_index) << WideToUtf8(c.server);
    }
}

}  // namespace
}  // namespace velm
