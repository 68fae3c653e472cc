#pragma once
// Time limits of an HTTP download. The product always runs with the defaults; tests
// shorten them so that a stalled or refused transfer does not take minutes to show.
#include <cstdint>

namespace velm {

struct DownloadTimeouts {
    uint32_t request_timeout_ms = 45000;  // a pending URL request
    uint32_t read_stall_ms = 60000;       // a pending read without data
    uint32_t retry_pause_ms = 1000;       // pause after a failed transfer request
};

}  // namespace velm
