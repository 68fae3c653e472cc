#pragma once
// velm-publish verify: reads a patch root back as the launcher would and checks every
// URL, size, hash and diff chain, and the release signature.
#include "formats/release_signature.h"

#include <filesystem>
#include <string>
#include <vector>

namespace velm::publish {

struct VerifyOptions {
    std::filesystem::path root;
    // With a key the release must be signed by it; without one, a signature that is
    // there is checked against the list but not against any key.
    bool has_key = false;
    ReleasePublicKey key{};
    // The channel the launchers in question follow.
    std::wstring channel = kDefaultReleaseChannel;
    bool quiet = false;
};

struct VerifyReport {
    std::vector<std::string> problems;
    size_t entries = 0;
    size_t full_files = 0;
    size_t diffs = 0;
    bool signed_release = false;  // a readable "filelist.xml.sig" is there
    ReleaseSignature signature;
    bool key_given = false;
    bool signature_checked = false;  // and it verified with the given key
    std::wstring channel;  // the channel it was checked against
    bool channel_matches = false;
};

// Fills report; returns 1 when the root could be read at all (problems may still be
// listed), 0 with a reason in error when it could not.
int RunVerify(const VerifyOptions& options, VerifyReport& report, std::string& error);

// One line on the signature for the operator: serial, expiry, channel, key id and
// whether the signature itself was checked.
std::string SignatureSummary(const VerifyReport& report);

}  // namespace velm::publish
