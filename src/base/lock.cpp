#include "base/lock.h"

#include "base/hold.h"
#include "base/native_sync.h"
#include "base/wait_state.h"

namespace sm {
namespace {

// A thread's tag: its id with the low bit set. Thread ids are multiples of 4
// and waiter records are aligned, so a tag never equals a record's address.
uintptr_t OwnTag() { return native::current_thread_id() | 1u; }

bool IsTag(uintptr_t value) { return (value & 1) != 0; }

// Lives on the waiting thread's stack until the lock is handed to it.
struct alignas(8) Waiter {
  uintptr_t tag;
  // What this record replaced in the chain: the next older waiter's address,
  // or, for the oldest waiter, the owner's tag.
  uintptr_t replaced;
  Hold hold;
};

bool SwapState(uintptr_t* word, uintptr_t expected, uintptr_t desired) {
  return __atomic_compare_exchange_n(word, &expected, desired, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
}

void NoteOwner(Lock* target, uintptr_t tag) {
  __atomic_store_n(&target->owner, static_cast<uint32_t>(tag), __ATOMIC_RELAXED);
}

Lock g_keyed[16];

Lock* KeyedLockOf(const void* address) {
  return &g_keyed[thread_hash(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address))) & 15];
}

}  // namespace

void lock(Lock* target) {
  const uintptr_t tag = OwnTag();
  if (SwapState(&target->state, 0, tag)) {
    NoteOwner(target, tag);
    return;
  }
  Waiter waiter;
  waiter.tag = tag;
  hold_init(&waiter.hold);
  for (;;) {
    const uintptr_t state = __atomic_load_n(&target->state, __ATOMIC_SEQ_CST);
    if (state != 0) {
      __atomic_store_n(&waiter.replaced, state, __ATOMIC_RELAXED);
      if (SwapState(&target->state, state, reinterpret_cast<uintptr_t>(&waiter))) {
        // Woken only by the hand-over: the lock is ours.
        hold_wait(&waiter.hold, kNoTimeLimit);
        break;
      }
    } else if (SwapState(&target->state, 0, tag)) {
      break;
    }
  }
  hold_term(&waiter.hold);
  NoteOwner(target, tag);
}

void unlock(Lock* target) {
  const uintptr_t tag = __atomic_load_n(&target->owner, __ATOMIC_RELAXED) | 1u;
  __atomic_store_n(&target->owner, 0u, __ATOMIC_RELAXED);
  if (SwapState(&target->state, tag, 0)) return;
  for (;;) {
    // Walk from the newest waiter to the oldest, which remembers our tag.
    uintptr_t* link = &target->state;
    uintptr_t current = __atomic_load_n(link, __ATOMIC_SEQ_CST);
    Waiter* oldest = reinterpret_cast<Waiter*>(current);
    for (;;) {
      const uintptr_t replaced = __atomic_load_n(&oldest->replaced, __ATOMIC_SEQ_CST);
      if (IsTag(replaced)) break;
      link = &oldest->replaced;
      current = replaced;
      oldest = reinterpret_cast<Waiter*>(replaced);
    }
    // Only the state word changes under us (new waiters arrive there); the
    // records' links belong to the owner.
    if (SwapState(link, current, oldest->tag)) {
      hold_signal(&oldest->hold);
      return;
    }
  }
}

void keyed_lock(const void* address) { lock(KeyedLockOf(address)); }

void keyed_unlock(const void* address) { unlock(KeyedLockOf(address)); }

}  // namespace sm
