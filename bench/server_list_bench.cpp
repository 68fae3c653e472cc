// Server list parsing: the launcher's ParseServerList on a generated document of 100,000
// servers in one realm with mixed ranks, against a plain parse of the same document's
// lines (split at line feeds and commas into records, no ranking). Prints
// "ours_ms peer_ms", the best of a few runs each.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "services/server_list.h"

namespace {

std::wstring Document(int servers) {
    std::wstring text = L"SERVER_BEGIN\r\n";
    for (int i = 0; i < servers; ++i) {
        // Badges in a pattern that mixes every rank through the whole realm.
        const wchar_t* badges[] = {L"0,0", L"1,0", L"0,1", L"1,1", L"0,0", L"0,0"};
        text += L"Realm," + std::to_wstring(i) + L",,7,1," + badges[i % 6] +
                L",,,10.1.0.1:8000,10.2.0.1:8000,10.3.0.1:8000,,1.0,10.0.0.1\r\n";
    }
    return text + L"SERVER_END\r\n";
}

// The peer: what any reader of the document does at least once.
size_t PlainParse(const std::wstring& text) {
    std::vector<std::vector<std::wstring>> records;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t feed = text.find(L'\n', pos);
        if (feed == std::wstring::npos) feed = text.size();
        std::wstring line = text.substr(pos, feed - pos);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        pos = feed + 1;
        std::vector<std::wstring> fields;
        size_t start = 0;
        for (size_t comma; (comma = line.find(L',', start)) != std::wstring::npos; start = comma + 1)
            fields.push_back(line.substr(start, comma - start));
        fields.push_back(line.substr(start));
        if (fields.size() >= 15) records.push_back(std::move(fields));
    }
    return records.size();
}

template <typename F>
double BestMs(F run) {
    double best = 1e300;
    for (int i = 0; i < 3; ++i) {
        auto start = std::chrono::steady_clock::now();
        run();
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (ms < best) best = ms;
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const int servers = argc > 1 ? std::atoi(argv[1]) : 100000;
    const std::wstring text = Document(servers);
    size_t ours_count = 0, peer_count = 0;
    double ours = BestMs([&] {
        velm::ServerListModel model;
        model.ParseServerList(text, L"http://127.0.0.1/reg");
        ours_count = model.server_count();
    });
    double peer = BestMs([&] { peer_count = PlainParse(text); });
    if (ours_count != size_t(servers) || peer_count != size_t(servers)) {
        std::fprintf(stderr, "parsed %zu and %zu of %d servers\n", ours_count, peer_count, servers);
        return 1;
    }
    std::printf("%.1f %.1f\n", ours, peer);
    return 0;
}
