#pragma once
// velm-publish resign: signs the current release of a patch root again, with the next
// serial and a new expiry, and changes nothing else in the root. A scheduled job runs it
// so that launchers keep accepting a release that has not changed, while a copy of an
// older signature that someone replays runs out.
#include "signing_plan.h"

#include <filesystem>
#include <string>

namespace velm::publish {

struct ResignOptions {
    std::filesystem::path root;
    SigningOptions signing;  // a key is required
    bool quiet = false;
};

// 1 on success, with the new "filelist.xml.sig" and the serial beside the key on the
// disk (flushed); 0 with a reason in error, the root as it was.
int RunResign(const ResignOptions& options, std::string& error);

}  // namespace velm::publish
