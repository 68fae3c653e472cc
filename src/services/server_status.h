#pragma once
// What a server line's status code and badge flags mean: the load and state the lists
// show, which servers are hidden or refused, and the order of servers within a realm.
#include <cstdint>

namespace velm {

// State codes of a record.
constexpr int32_t kServerStateNormal = 0;
constexpr int32_t kServerStateHidden = 4;        // dropped from the model
constexpr int32_t kServerStateUnavailable = 10;  // listed; the game start refuses it unless forced

constexpr int32_t kServerLoadMaximum = 100;

struct ServerStatus {
    int32_t load_code;
    int32_t state_code;
};

ServerStatus TranslateStatusCode(int32_t status_code);

// 2 with the first badge flag set, else 1 with the second, else 0; higher ranks list first.
int32_t ServerRank(int32_t first_badge_flag, int32_t second_badge_flag);

// Frame of the status icon strip for a record: the unavailable state wins over the load.
int32_t StatusIconFrame(int32_t load_code, int32_t state_code);

// Frame of the badge strip (two animations of 21 frames, one step per 100 ms), or -1 when
// the record has no badge.
int32_t BadgeFrame(int32_t first_badge_flag, int32_t second_badge_flag, uint32_t tick_count);

}  // namespace velm
