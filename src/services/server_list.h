#pragma once
// The realm and server model built from the operator's server list document, a plain text
// that arrives in the system's ANSI code page and is converted to wide text before it gets
// here. Servers are the lines between "SERVER_BEGIN" and "SERVER_END", 15 comma-separated
// fields each:
//   0 realm name, 1 server name, 2 -, 3 server id, 4 status code, 5 first badge flag,
//   6 second badge flag, 7 -, 8 -, 9 TEL proxy, 10 CNC proxy, 11 EDU proxy, 12 -,
//   13 client version, 14 passport server IP
// Fields are not trimmed and cannot hold commas; an empty field after a final comma does
// not count; fields after the 15th are ignored.
//
// Threads: a model is plain data with no lock. The fetch thread parses into a model of its
// own and hands it to the window whole (under the window's lock), so readers never see a
// half-built model.
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace velm {

struct ServerRecord {
    std::wstring realm_name;
    std::wstring server_name;
    std::wstring tel_proxy;
    std::wstring cnc_proxy;
    std::wstring edu_proxy;
    std::wstring server_id;
    std::wstring passport_ip;         // empty: the server cannot be chosen for the game start
    std::wstring create_account_url;  // the same built-in text for every server
    std::wstring client_version;
    std::wstring ip_map;              // never filled by this document format
    std::wstring gate_ip;             // never filled by this document format
    int32_t enabled = 1;
    int32_t load_code = 0;
    int32_t load_maximum = 100;
    int32_t state_code = 0;
    int32_t second_badge_flag = 0;
    int32_t first_badge_flag = 0;
};

struct RealmEntry {
    std::wstring name;
    int32_t ordinal = 0;
    std::vector<ServerRecord> servers;  // by rank, highest first; equal ranks in document order
};

// The next realm ordinal of this program run: 0, 1, 2, ... across every model and rebuild.
int32_t NextRealmOrdinal();

struct ServerListParseStats {
    size_t accepted = 0;     // records added to the model
    size_t hidden = 0;       // records dropped for the hidden state
    size_t short_lines = 0;  // block lines with fewer than 15 fields or a NUL character
    size_t long_lines = 0;   // lines over kMaxLineChars, dropped unread
    size_t over_limit = 0;   // server lines beyond kMaxServers, dropped
};

class ServerListModel {
public:
    // A line of the document holds at most this many characters (line end excluded).
    static constexpr size_t kMaxLineChars = 1023;
    // Far above any real list; keeps a hostile document from exhausting memory.
    static constexpr size_t kMaxServers = 100000;

    // Rebuilds the model from a whole document. Never fails: text without servers gives
    // an empty model.
    ServerListParseStats ParseServerList(const std::wstring& text,
                                         const std::wstring& create_account_url);
    // Adds a record to the realm of exactly its realm name (a new realm with the next
    // ordinal when there is none), keeping the realm's servers in rank order.
    void AddServer(const ServerRecord& record);
    // The realm of exactly that name, or nullptr.
    const RealmEntry* FindRealm(const std::wstring& name) const;

    const std::vector<RealmEntry>& realms() const { return realms_; }
    size_t server_count() const { return server_count_; }
    void Clear();

private:
    // The servers of the realm of exactly that name, created with the next ordinal when
    // there is none.
    std::vector<ServerRecord>& RealmServers(const std::wstring& realm_name);

    std::vector<RealmEntry> realms_;
    std::unordered_map<std::wstring, size_t> realm_index_;
    size_t server_count_ = 0;
};

// Where the remembered choice lands in a rebuilt model: the position of the realm whose
// name equals the remembered realm text (case-sensitive) and, inside it, of the first
// server of the remembered name; -1 for either when there is none.
struct RememberedChoice {
    int realm_index = -1;
    int server_index = -1;
};
RememberedChoice FindRememberedChoice(const ServerListModel& model, const std::wstring& realm_text,
                                      const std::wstring& server_name);

}  // namespace velm
