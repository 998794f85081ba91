// A small first-come, first-served lock, and address-keyed locks for one-time
// initialisation of process-wide values.
#pragma once

#include <cstdint>

namespace sm {

// All zero when free; needs no set-up and no tear-down. A static or zeroed
// Lock is ready to use.
struct Lock {
  // Tag of the owning thread while held.
  uint32_t owner;
  // 0 free; the owner's tag when held with nobody waiting; otherwise the
  // address of the newest waiter's record (waiters chain to the oldest).
  uintptr_t state;
};

// Takes the lock, waiting behind every thread that asked before. Not
// re-entrant: locking a lock the thread holds blocks for good.
void lock(Lock* lock);
// Releases the lock, handing it straight to the longest-waiting thread.
void unlock(Lock* lock);

// lock/unlock on one of 16 process-wide locks chosen by hashing `address`.
void keyed_lock(const void* address);
void keyed_unlock(const void* address);

}  // namespace sm
