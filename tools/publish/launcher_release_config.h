#pragma once
// The release key and channel built into a launcher executable (its CONFIG_TEXT
// resources 904 and 905: UTF-16LE code units without a terminator; an absent one reads
// as empty), looked at the way the launcher looks at them, so that a signed release can
// say when the launcher it publishes would not check its signature, or would refuse it.
#include "formats/release_signature.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velm::publish {

// Why the players of the launcher in image would not be protected by releases signed
// with key for channel, as the end of a sentence that begins with the launcher's name
// ("holds no release key ..."); empty when its key and channel are these.
std::string LauncherSigningMismatch(const std::vector<uint8_t>& image, const ReleasePublicKey& key,
                                    const std::wstring& channel);

}  // namespace velm::publish
