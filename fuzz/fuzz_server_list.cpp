// The operator's server list, converted to wide text. Input: one byte choosing the
// conversion (UTF-8, or each byte as one character as a single-byte code page gives it),
// then the document. Every line of a server block is accounted for exactly once, and the
// model holds only well-formed records in rank order.
#include "fuzz_support.h"

#include "common/text.h"
#include "services/server_list.h"
#include "services/server_status.h"

namespace {

// Lines between "SERVER_BEGIN" and "SERVER_END" as the parser must see them: split at line
// feeds, carriage returns dropped, a byte-order mark skipped at the start.
size_t CountBlockLines(const std::wstring& text, size_t max_chars, size_t& long_lines) {
    size_t pos = (!text.empty() && text[0] == 0xFEFF) ? 1 : 0;
    size_t block_lines = 0;
    bool in_block = false;
    long_lines = 0;
    while (pos < text.size()) {
        size_t feed = text.find(L'\n', pos);
        size_t end = feed == std::wstring::npos ? text.size() : feed;
        std::wstring line;
        for (size_t i = pos; i < end; ++i)
            if (text[i] != L'\r') line.push_back(text[i]);
        pos = feed == std::wstring::npos ? text.size() : feed + 1;
        if (line.size() > max_chars) {
            ++long_lines;
            continue;
        }
        if (!in_block) {
            in_block = line == L"SERVER_BEGIN";
        } else if (line == L"SERVER_END") {
            in_block = false;
        } else {
            ++block_lines;
        }
    }
    return block_lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::wstring text;
    if (data[0] & 1) {
        text = velm::Utf8ToWide(bytes);
    } else {
        for (char c : bytes) text.push_back(wchar_t(static_cast<unsigned char>(c)));
    }

    velm::ServerListModel model;
    const velm::ServerListParseStats stats = model.ParseServerList(text, L"http://127.0.0.1/account");
    size_t long_lines = 0;
    const size_t block_lines = CountBlockLines(text, velm::ServerListModel::kMaxLineChars, long_lines);
    FUZZ_CHECK(stats.long_lines == long_lines);
    FUZZ_CHECK(stats.accepted + stats.hidden + stats.short_lines + stats.over_limit == block_lines);
    FUZZ_CHECK(model.server_count() == stats.accepted);
    FUZZ_CHECK(model.server_count() <= velm::ServerListModel::kMaxServers);

    size_t counted = 0;
    for (const velm::RealmEntry& realm : model.realms()) {
        FUZZ_CHECK(model.FindRealm(realm.name) == &realm);
        FUZZ_CHECK(!realm.servers.empty());
        counted += realm.servers.size();
        int32_t previous_rank = INT32_MAX;
        for (const velm::ServerRecord& server : realm.servers) {
            FUZZ_CHECK(server.realm_name == realm.name);
            FUZZ_CHECK(server.state_code != velm::kServerStateHidden);
            const std::wstring* fields[] = {&server.realm_name, &server.server_name, &server.server_id,
                                            &server.tel_proxy,  &server.cnc_proxy,   &server.edu_proxy,
                                            &server.client_version, &server.passport_ip};
            for (const std::wstring* field : fields) {
                FUZZ_CHECK(field->find_first_of(std::wstring(L",\n\r\0", 4)) == std::wstring::npos);
                FUZZ_CHECK(field->size() < velm::ServerListModel::kMaxLineChars);
            }
            const int32_t rank = velm::ServerRank(server.first_badge_flag, server.second_badge_flag);
            FUZZ_CHECK(rank <= previous_rank);
            previous_rank = rank;
            velm::RememberedChoice choice = velm::FindRememberedChoice(model, realm.name, server.server_name);
            FUZZ_CHECK(choice.realm_index >= 0 && choice.server_index >= 0);
            FUZZ_CHECK(model.realms()[size_t(choice.realm_index)].servers[size_t(choice.server_index)].server_name ==
                       server.server_name);
        }
    }
    FUZZ_CHECK(counted == model.server_count());
    return 0;
}
