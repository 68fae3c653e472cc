// The store of the server list model and the player's choice: the choice remembered in
// the INI file through the private-profile functions and reapplied to a rebuilt model,
// and rebuilds that readers on another thread never see half done.
#include "services/server_list_store_win32.h"

#include <gtest/gtest.h>

#include <atomic>

#include "common/file_io.h"
#include "common/text.h"
#include "services/last_selected_win32.h"

namespace velm {
namespace {

std::wstring Line(const std::wstring& realm, const std::wstring& server) {
    return realm + L"," + server + L",,7,1,0,0,,,a,b,c,,1.0,10.0.0.1\n";
}

std::wstring List(std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> servers) {
    std::wstring text = L"SERVER_BEGIN\n";
    for (const auto& s : servers) text += Line(s.first, s.second);
    return text + L"SERVER_END\n";
}

std::wstring TempPath(const wchar_t* stem) {
    wchar_t folder[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, folder);
    static int count = 0;
    return FormatText(L"%ls%ls-%lu-%d", folder, stem, GetCurrentProcessId(), ++count);
}

std::wstring IniValue(const std::wstring& ini, const wchar_t* section) {
    wchar_t value[64] = {};
    GetPrivateProfileStringW(section, L"LastSelected", L"<missing>", value, 64, ini.c_str());
    return value;
}

TEST(ServerListStoreTest, TheChoiceIsRememberedAndFoundAgainByName) {
    const std::wstring first = List({{L"电信一区", L"烈焰"}, {L"电信一区", L"青龙"}, {L"网通", L"白虎"}});
    struct Case {
        const char* what;
        std::wstring before;   // INI text before the first rebuild, "" for no file
        int realm_index;       // the player's choice in the first model
        int server_index;
        std::wstring next;     // the second document
        const wchar_t* realm_key;   // the INI after the second rebuild saved the choice
        const wchar_t* server_key;
        int realm_after;       // the choice reapplied to the second model
        int server_after;
    } cases[] = {
        {"realm and server at new positions", L"", 0, 1,
         List({{L"新区", L"N"}, {L"电信一区", L"青龙"}, {L"电信一区", L"烈焰"}}),
         L"电信一区", L"青龙", 1, 0},
        {"no server chosen keeps the remembered server", L"[Server]\r\nLastSelected=白虎\r\n", 1, -1,
         first, L"网通", L"白虎", 1, 0},
        {"a server position outside the realm counts as none", L"", 1, 5, first, L"网通",
         L"<missing>", 1, -1},
        {"no realm chosen is remembered as empty", L"[Realm]\r\nLastSelected=网通\r\n", -1, -1,
         first, L"", L"<missing>", -1, -1},
        {"a realm that is gone leaves no choice", L"", 1, 0, List({{L"电信一区", L"烈焰"}}),
         L"网通", L"白虎", -1, -1},
        {"the server is found only inside its realm", L"", 1, 0,
         List({{L"电信一区", L"白虎"}, {L"网通", L"X"}}), L"网通", L"白虎", 1, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring ini = TempPath(L"velm-choice") + L".ini";
        if (!c.before.empty()) {
            std::string bytes = "\xFF\xFE" + WideToUtf16Le(c.before);
            ASSERT_TRUE(WriteWholeFile(ini, bytes.data(), bytes.size()));
        }
        ServerListStore store(ini);
        store.Rebuild(first, L"");
        store.SelectRealm(c.realm_index);
        store.SelectServer(c.server_index);
        store.Rebuild(c.next, L"");
        EXPECT_EQ(IniValue(ini, L"Realm"), c.realm_key);
        EXPECT_EQ(IniValue(ini, L"Server"), c.server_key);
        RememberedChoice after = store.Read().choice();
        EXPECT_EQ(after.realm_index, c.realm_after);
        EXPECT_EQ(after.server_index, c.server_after);
        RemoveFile(ini);
    }
}

TEST(ServerListStoreTest, NamesWithBlanksOrQuotesAtTheirEndsComeBackUnchanged) {
    const wchar_t* names[] = {L" 前后空格 ", L"\t制表", L"\"引号\"", L"\"左引号", L"中\"间", L"=等号="};
    for (const wchar_t* name : names) {
        SCOPED_TRACE(WideToUtf8(name));
        std::wstring ini = TempPath(L"velm-blank") + L".ini";
        std::wstring list = List({{L"A", L"S"}, {name, L"S"}, {name, name}});
        ServerListStore store(ini);
        store.Rebuild(list, L"");
        store.SelectRealm(1);
        store.SelectServer(1);
        ServerListStore next_run(ini);
        EXPECT_EQ(store.SaveChoice(), 1);
        next_run.Rebuild(list, L"");
        RememberedChoice choice = next_run.Read().choice();
        EXPECT_EQ(choice.realm_index, 1);
        EXPECT_EQ(choice.server_index, 1);
        RemoveFile(ini);
    }
}

TEST(ServerListStoreTest, AnEmptyModelRemembersNothingAndAMissingFileChoosesNothing) {
    std::wstring ini = TempPath(L"velm-empty") + L".ini";
    ServerListStore store(ini);
    store.SelectRealm(0);
    EXPECT_EQ(store.SaveChoice(), 1);
    store.Rebuild(L"no servers here", L"");
    EXPECT_FALSE(FileExists(ini));
    store.Rebuild(List({{L"R", L"S"}}), L"");
    EXPECT_EQ(store.Read().choice().realm_index, -1);
    EXPECT_EQ(store.ChosenServer().server_name, L"");
    RemoveFile(ini);
}

TEST(ServerListStoreTest, TheLauncherIniLivesInTheCurrentFolder) {
    std::wstring folder = TempPath(L"velm-install");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    wchar_t previous[MAX_PATH + 1] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));
    {
        ServerListStore store(kLauncherIniPath);
        store.Rebuild(List({{L"R", L"S1"}, {L"R", L"S2"}}), L"");
        store.SelectRealm(0);
        store.SelectServer(1);
        EXPECT_EQ(store.SaveChoice(), 1);
        EXPECT_EQ(store.ChosenServer().server_name, L"S2");
    }
    // A later run finds the choice again.
    ServerListStore next_run(kLauncherIniPath);
    next_run.Rebuild(List({{L"R", L"S2"}, {L"R", L"S1"}}), L"");
    EXPECT_EQ(next_run.ChosenServer().server_name, L"S2");
    SetCurrentDirectoryW(previous);
    std::wstring ini = folder + L"\\VelmLauncher.ini";
    EXPECT_EQ(IniValue(ini, L"Realm"), L"R");
    EXPECT_EQ(IniValue(ini, L"Server"), L"S2");
    RemoveFile(ini);
    RemoveDirectoryW(folder.c_str());
}

// Two lists whose realms differ in size and name: a reader that saw one half-replaced by
// the other would find a realm whose servers belong to another realm or a count that
// matches neither list.
TEST(ServerListStoreTest, ReadersNeverSeeAHalfRebuiltModel) {
    std::wstring lists[2];
    for (int l = 0; l < 2; ++l) {
        lists[l] = L"SERVER_BEGIN\n";
        for (int r = 0; r < 20 + 10 * l; ++r) {
            for (int s = 0; s < 10 + l; ++s) {
                lists[l] += Line(FormatText(L"L%dR%d", l, r), FormatText(L"S%d", s));
            }
        }
    }
    std::wstring ini = TempPath(L"velm-race") + L".ini";
    ServerListStore store(ini);
    store.Rebuild(lists[0], L"");
    struct Shared {
        ServerListStore* store;
        std::atomic<bool> done{false};
        std::atomic<int> torn{0};
        std::atomic<int> reads{0};
    } shared;
    shared.store = &store;
    auto reader = [](void* p) -> DWORD {
        auto* shared = static_cast<Shared*>(p);
        while (!shared->done) {
            auto read = shared->store->Read();
            const auto& realms = read.model().realms();
            size_t servers = 0;
            for (const RealmEntry& realm : realms) {
                for (const ServerRecord& server : realm.servers) {
                    if (server.realm_name != realm.name) ++shared->torn;
                }
                servers += realm.servers.size();
            }
            if (servers != read.model().server_count() || (servers != 200 && servers != 330)) {
                ++shared->torn;
            }
            ++shared->reads;
        }
        return 0;
    };
    HANDLE thread = CreateThread(nullptr, 0, reader, &shared, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    for (int i = 0; i < 200; ++i) {
        store.Rebuild(lists[(i + 1) % 2], L"");
        store.SelectRealm(i % 20);
    }
    shared.done = true;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(shared.torn, 0);
    EXPECT_GT(shared.reads, 0);
    RemoveFile(ini);
}

}  // namespace
}  // namespace velm
