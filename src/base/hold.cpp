#include "base/hold.h"

#include "base/clock.h"
#include "base/native_sync.h"
#include "base/wait_state.h"

namespace sm {
namespace {

// How often a hold without a native event looks at its state.
constexpr uint32_t kPollMs = 20;

int32_t State(Hold* hold) { return __atomic_load_n(&hold->state, __ATOMIC_SEQ_CST); }

// Without a native event: look at the state now and then. A waker that found
// the hold blocked stores 1 as its last access, so the hold (often on the
// waiter's stack) is left only after that.
int Poll(Hold* hold, uint32_t limit_ms) {
  const bool forever = limit_ms >= kNoTimeLimit;
  const uint64_t deadline = forever ? 0 : monotonic_ms() + limit_ms;
  bool timed_out = false;
  for (;;) {
    if (State(hold) > 0) return 1;
    uint32_t wait_ms = kPollMs;
    if (!forever && !timed_out) {
      const uint64_t now = monotonic_ms();
      if (now >= deadline) {
        int32_t blocked = -1;
        if (__atomic_compare_exchange_n(&hold->state, &blocked, 0, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) {
          return 0;
        }
        timed_out = true;  // a wake is under way
        continue;
      }
      if (deadline - now < wait_ms) wait_ms = static_cast<uint32_t>(deadline - now);
    }
    native::delay(wait_ms);
  }
}

// Waits for the event until it is set; failures are retried after a pause.
void AwaitSet(native::EventHandle event) {
  for (;;) {
    const native::WaitResult result = native::event_wait(event, native::kWaitForever, false);
    if (result == native::WaitResult::kSignalled) return;
    if (result == native::WaitResult::kFailed) native::delay(kPollMs);
  }
}

// Blocks a hold whose state is -1 until woken (1) or timed out (0).
int Block(Hold* hold, uint32_t limit_ms, bool alertable) {
  if (!hold->node) return Poll(hold, limit_ms);
  native::EventHandle event = hold->node->event;
  const bool forever = limit_ms >= kNoTimeLimit;
  const uint64_t deadline = forever ? 0 : monotonic_ms() + limit_ms;
  for (;;) {
    uint32_t wait_ms = native::kWaitForever;
    if (!forever) {
      const uint64_t now = monotonic_ms();
      if (now >= deadline) break;
      wait_ms = static_cast<uint32_t>(deadline - now);
    }
    const native::WaitResult result = native::event_wait(event, wait_ms, alertable);
    if (result == native::WaitResult::kSignalled) {
      if (State(hold) != -1) return 1;
      // A set left over from an earlier user of the node; not ours.
      native::event_clear(event);
    } else if (result == native::WaitResult::kFailed) {
      native::delay(kPollMs);
    }
    // kTimedOut: the loop's own clock decides, since a native time-out may
    // end a tick early. kInterrupted: resume for the time that is left.
  }
  int32_t blocked = -1;
  if (__atomic_compare_exchange_n(&hold->state, &blocked, 0, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) return 0;
  // A wake is under way and its waker will set the event: wait for that, so
  // that the set cannot land after the node went back to its bucket.
  AwaitSet(event);
  return 1;
}

int Wait(Hold* hold, uint32_t limit_ms, bool alertable) {
  if (__atomic_load_n(&hold->state, __ATOMIC_SEQ_CST) == 0 && !hold->node) {
    hold->bucket = current_bucket();
    hold->node = event_node_take(hold->bucket);
  }
  int32_t idle = 0;
  int result = 1;
  if (__atomic_compare_exchange_n(&hold->state, &idle, -1, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) {
    result = Block(hold, limit_ms, alertable);
  }
  if (EventNode* node = hold->node) {
    hold->node = nullptr;
    event_node_give(hold->bucket, node);
  }
  return result;
}

}  // namespace

void hold_init(Hold* hold) {
  hold->state = 0;
  hold->bucket = nullptr;
  hold->node = nullptr;
}

void hold_signal(Hold* hold) {
  // A blocked waiter leaves only after its event was set (or, polling, after
  // the state became positive), so the hold is still valid here.
  if (__atomic_fetch_add(&hold->state, 1, __ATOMIC_SEQ_CST) == -1) {
    if (EventNode* node = hold->node) {
      native::event_set(node->event);
    } else {
      __atomic_store_n(&hold->state, 1, __ATOMIC_SEQ_CST);
    }
  }
}

int hold_wait(Hold* hold, uint32_t limit_ms) { return Wait(hold, limit_ms, false); }

int hold_wait_alertable(Hold* hold, uint32_t limit_ms) { return Wait(hold, limit_ms, true); }

void hold_term(Hold* hold) {
  if (EventNode* node = hold->node) {
    hold->node = nullptr;
    event_node_give(hold->bucket, node);
  }
}

}  // namespace sm
