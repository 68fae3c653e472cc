#pragma once
// velm-publish verify: reads a patch root back as the launcher would and checks every
// URL, size, hash and diff chain.
#include <filesystem>
#include <string>
#include <vector>

namespace velm::publish {

struct VerifyReport {
    std::vector<std::string> problems;
    size_t entries = 0;
    size_t full_files = 0;
    size_t diffs = 0;
};

// Fills report; returns 1 when the root could be read at all (problems may still be
// listed), 0 with a reason in error when it could not.
int RunVerify(const std::filesystem::path& root, bool quiet, VerifyReport& report,
              std::string& error);

}  // namespace velm::publish
