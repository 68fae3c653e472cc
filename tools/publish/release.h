#pragma once
// velm-publish release: publishes the next version of a client into a patch root.
#include <filesystem>
#include <string>

namespace velm::publish {

struct ReleaseOptions {
    std::filesystem::path root;
    std::wstring base_url;
    std::filesystem::path client;
    std::filesystem::path launcher;  // empty: keep the published launcher
    std::filesystem::path script;    // empty: keep the published script
    // Older versions listed per file besides the current one; a history never ends before
    // the version whose root holds the full file, whatever this says.
    size_t max_history = 30;
    bool quiet = false;
};

// 1 on success; 0 with a reason in error. A failed run leaves the previous release as
// it was.
int RunRelease(const ReleaseOptions& options, std::string& error);

}  // namespace velm::publish
