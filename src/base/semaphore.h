// A counting semaphore whose waiters are served first come, first served.
#pragma once

#include <cstdint>

#include "base/hold.h"
#include "base/lock.h"

namespace sm {

class SignalEvent;
struct SemaphoreWaiter;

// All zero is a semaphore with count 0.
struct Semaphore {
  Lock lock;
  SemaphoreWaiter* first;
  SemaphoreWaiter* last;
  // 0 or more: free units; below 0: minus the number of waiters.
  int32_t count;
};

// Adds one unit, handing it to the longest waiter when there is one.
void sema_signal(Semaphore* semaphore);

// Takes a unit (1), or gives up when `limit_ms` passed or `cancel` (may be
// null) was raised (0).
int sema_wait(Semaphore* semaphore, SignalEvent* cancel, uint32_t limit_ms);

}  // namespace sm
