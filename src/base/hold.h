// The hold: a one-shot wait record. One thread blocks on it until another
// wakes it or a time limit passes. Native events are taken only when the
// thread really blocks, from a per-thread-bucket cache.
#pragma once

#include <cstdint>

namespace sm {

struct EventBucket;
struct EventNode;

struct Hold {
  // 0 idle; -1 the owner is blocked; above 0 woken before the wait.
  int32_t state;
  EventBucket* bucket;
  EventNode* node;
};

// A time limit of this or more means no limit.
inline constexpr uint32_t kNoTimeLimit = 0x7FFFFFFFu;

void hold_init(Hold* hold);
// Wakes the hold; a wake before the wait makes the wait return at once.
void hold_signal(Hold* hold);
// Blocks until woken (1) or until `limit_ms` passed (0).
int hold_wait(Hold* hold, uint32_t limit_ms);
// Like hold_wait, but alertable: alerts and asynchronous calls are delivered
// meanwhile and the wait resumes for the time that is left.
int hold_wait_alertable(Hold* hold, uint32_t limit_ms);
void hold_term(Hold* hold);

}  // namespace sm
