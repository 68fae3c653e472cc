#pragma once
// velm-publish release: publishes the next version of a client into a patch root.
#include "signing_plan.h"

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
    // With a key: sign the release ("filelist.xml.sig", with the next serial).
    SigningOptions signing;
    // Publish unsigned into a root whose current release is signed (its signature goes).
    bool unsigned_release = false;
    bool quiet = false;
    // Files compressed and diffed at once; the output is the same for any count.
    size_t jobs = 1;
};

// The machine's core count, at least 1: the default of --jobs.
size_t DefaultReleaseJobs();

// 1 on success; 0 with a reason in error. A failed run leaves the previous release as
// it was; a successful one has its list, companion, signature and objects on the disk
// (flushed) when it returns. An unsigned run into a root whose release is signed is
// refused unless unsigned_release says so: launchers that hold the key would refuse
// every update.
int RunRelease(const ReleaseOptions& options, std::string& error);

}  // namespace velm::publish
