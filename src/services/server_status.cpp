#include "services/server_status.h"

namespace velm {

ServerStatus TranslateStatusCode(int32_t status_code) {
    switch (status_code) {
        case 0: return {90, kServerStateNormal};
        case 1: return {75, kServerStateNormal};
        case 2: return {10, kServerStateNormal};
        case 3: return {0, kServerStateNormal};
        case 4: return {4, kServerStateUnavailable};
        case 10: return {10, kServerStateHidden};
        default: return {status_code, kServerStateNormal};
    }
}

int32_t ServerRank(int32_t first_badge_flag, int32_t second_badge_flag) {
    if (first_badge_flag != 0) return 2;
    return second_badge_flag != 0 ? 1 : 0;
}

int32_t StatusIconFrame(int32_t load_code, int32_t state_code) {
    if (state_code == kServerStateUnavailable) return 4;
    switch (load_code) {
        case 10: return 1;
        case 75: return 2;
        case 90: return 3;
        default: return 0;
    }
}

int32_t BadgeFrame(int32_t first_badge_flag, int32_t second_badge_flag, uint32_t tick_count) {
    constexpr uint32_t kFramesPerBadge = 21;
    uint32_t step = (tick_count / 100) % kFramesPerBadge;
    if (first_badge_flag != 0) return int32_t(step);
    if (second_badge_flag != 0) return int32_t(kFramesPerBadge + step);
    return -1;
}

}  // namespace velm
