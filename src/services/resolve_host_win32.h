#pragma once
// The address of a host as shown to the player next to a failed update.
#include <string>

namespace velm {

// The first address the system resolver gives for the host: dotted text for IPv4, the
// usual colon text for IPv6; empty when the name does not resolve. Winsock must have been
// started (start-up does this before anything else).
std::wstring ResolveHostIp(const std::wstring& host);

}  // namespace velm
