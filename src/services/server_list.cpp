#include "services/server_list.h"

#include <algorithm>
#include <atomic>

#include "common/text.h"
#include "services/server_status.h"

namespace velm {
namespace {

constexpr size_t kFieldCount = 15;
constexpr wchar_t kByteOrderMark = 0xFEFF;

// Pieces between commas; the empty piece after a final comma is not a field.
std::vector<std::wstring> SplitFields(const std::wstring& line) {
    std::vector<std::wstring> fields;
    size_t start = 0;
    while (true) {
        size_t comma = line.find(L',', start);
        if (comma == std::wstring::npos) {
            if (start < line.size() || fields.empty()) fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, comma - start));
        start = comma + 1;
    }
}

// False when the line cannot be a server: too few fields, or a NUL character, which the
// game's command line (a C string) would cut off without a trace.
bool BuildRecord(const std::wstring& line, const std::wstring& create_account_url,
                 ServerRecord& record) {
    if (line.find(L'\0') != std::wstring::npos) return false;
    std::vector<std::wstring> fields = SplitFields(line);
    if (fields.size() < kFieldCount) return false;
    record = ServerRecord();
    record.realm_name = fields[0];
    record.server_name = fields[1];
    record.server_id = fields[3];
    ServerStatus status = TranslateStatusCode(ParseLeadingInt(fields[4]));
    record.load_code = status.load_code;
    record.state_code = status.state_code;
    record.first_badge_flag = ParseLeadingInt(fields[5]);
    record.second_badge_flag = ParseLeadingInt(fields[6]);
    record.tel_proxy = fields[9];
    record.cnc_proxy = fields[10];
    record.edu_proxy = fields[11];
    record.client_version = fields[13];
    record.passport_ip = fields[14];
    record.create_account_url = create_account_url;
    return true;
}

int32_t RankOf(const ServerRecord& record) {
    return ServerRank(record.first_badge_flag, record.second_badge_flag);
}

}  // namespace

int32_t NextRealmOrdinal() {
    static std::atomic<int32_t> counter{0};
    return counter.fetch_add(1);
}

void ServerListModel::Clear() {
    realms_.clear();
    realm_index_.clear();
    server_count_ = 0;
}

void ServerListModel::AddServer(const ServerRecord& record) {
    std::vector<ServerRecord>& servers = RealmServers(record.realm_name);
    // After every server of the same or a higher rank: stable, and a plain append for the
    // usual list where most servers share one rank.
    const int32_t rank = RankOf(record);
    size_t at = servers.size();
    while (at > 0 && RankOf(servers[at - 1]) < rank) --at;
    servers.insert(servers.begin() + long(at), record);
    ++server_count_;
}

std::vector<ServerRecord>& ServerListModel::RealmServers(const std::wstring& realm_name) {
    auto found = realm_index_.find(realm_name);
    if (found == realm_index_.end()) {
        RealmEntry realm;
        realm.name = realm_name;
        realm.ordinal = NextRealmOrdinal();
        realms_.push_back(std::move(realm));
        found = realm_index_.emplace(realm_name, realms_.size() - 1).first;
    }
    return realms_[found->second].servers;
}

const RealmEntry* ServerListModel::FindRealm(const std::wstring& name) const {
    auto found = realm_index_.find(name);
    return found == realm_index_.end() ? nullptr : &realms_[found->second];
}

ServerListParseStats ServerListModel::ParseServerList(const std::wstring& text,
                                                      const std::wstring& create_account_url) {
    Clear();
    ServerListParseStats stats;
    size_t pos = (!text.empty() && text[0] == kByteOrderMark) ? 1 : 0;
    bool in_block = false;
    std::wstring line;
    ServerRecord record;
    while (pos < text.size()) {
        size_t feed = text.find(L'\n', pos);
        size_t end = feed == std::wstring::npos ? text.size() : feed;
        size_t next = feed == std::wstring::npos ? text.size() : feed + 1;
        line.clear();
        bool too_long = false;
        for (size_t i = pos; i < end; ++i) {
            if (text[i] == L'\r') continue;
            if (line.size() == kMaxLineChars) {
                too_long = true;
                break;
            }
            line.push_back(text[i]);
        }
        pos = next;
        if (too_long) {
            ++stats.long_lines;
            continue;
        }
        if (!in_block) {
            in_block = line == L"SERVER_BEGIN";
            continue;
        }
        if (line == L"SERVER_END") {
            in_block = false;
            continue;
        }
        if (!BuildRecord(line, create_account_url, record)) {
            ++stats.short_lines;
            continue;
        }
        if (record.state_code == kServerStateHidden) {
            ++stats.hidden;
            continue;
        }
        if (server_count_ >= kMaxServers) {
            ++stats.over_limit;
            continue;
        }
        // Appended in document order and ranked once at the end: placing each server
        // by rank as it arrives moves the realm's tail for every one of them.
        RealmServers(record.realm_name).push_back(std::move(record));
        ++server_count_;
        ++stats.accepted;
    }
    for (RealmEntry& realm : realms_) {
        std::stable_sort(realm.servers.begin(), realm.servers.end(),
                         [](const ServerRecord& a, const ServerRecord& b) { return RankOf(a) > RankOf(b); });
    }
    return stats;
}

RememberedChoice FindRememberedChoice(const ServerListModel& model, const std::wstring& realm_text,
                                      const std::wstring& server_name) {
    RememberedChoice choice;
    const std::vector<RealmEntry>& realms = model.realms();
    for (size_t r = 0; r < realms.size(); ++r) {
        if (realms[r].name != realm_text) continue;
        choice.realm_index = int(r);
        for (size_t s = 0; s < realms[r].servers.size(); ++s) {
            if (realms[r].servers[s].server_name == server_name) {
                choice.server_index = int(s);
                break;
            }
        }
        break;
    }
    return choice;
}

}  // namespace velm
