#include "base/semaphore.h"

#include <cstddef>

#include "base/hold.h"
#include "base/signal.h"

namespace sm {

// Lives on the waiting thread's stack while it is queued.
struct SemaphoreWaiter {
  SemaphoreWaiter* next;
  Hold hold;
  // Shared by sema_signal and the cancel callback: the first to set it wakes.
  uint32_t woken;
  uint32_t granted;
  SignalSubscription cancel;
};

namespace {

bool TryChange(int32_t* count, int32_t expected, int32_t desired) {
  return __atomic_compare_exchange_n(count, &expected, desired, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
}

void Wake(SemaphoreWaiter* waiter) {
  uint32_t expected = 0;
  if (__atomic_compare_exchange_n(&waiter->woken, &expected, 1u, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) {
    hold_signal(&waiter->hold);
  }
}

void OnCancel(SignalSubscription* subscription) {
  Wake(reinterpret_cast<SemaphoreWaiter*>(reinterpret_cast<char*>(subscription) -
                                          offsetof(SemaphoreWaiter, cancel)));
  signal_callback_done(subscription);
}

void Unlink(Semaphore* semaphore, SemaphoreWaiter* waiter) {
  SemaphoreWaiter* previous = nullptr;
  for (SemaphoreWaiter* each = semaphore->first; each; previous = each, each = each->next) {
    if (each != waiter) continue;
    if (previous) {
      previous->next = each->next;
    } else {
      semaphore->first = each->next;
    }
    if (semaphore->last == each) semaphore->last = previous;
    return;
  }
}

}  // namespace

void sema_signal(Semaphore* semaphore) {
  for (int32_t count = __atomic_load_n(&semaphore->count, __ATOMIC_SEQ_CST); count >= 0;
       count = __atomic_load_n(&semaphore->count, __ATOMIC_SEQ_CST)) {
    if (TryChange(&semaphore->count, count, count + 1)) return;
  }
  lock(&semaphore->lock);
  if (__atomic_fetch_add(&semaphore->count, 1, __ATOMIC_SEQ_CST) < 0) {
    // A count below 0 always matches the queue length, which is changed only
    // under the lock.
    SemaphoreWaiter* waiter = semaphore->first;
    semaphore->first = waiter->next;
    if (!semaphore->first) semaphore->last = nullptr;
    waiter->next = nullptr;
    __atomic_store_n(&waiter->granted, 1u, __ATOMIC_SEQ_CST);
    Wake(waiter);
  }
  unlock(&semaphore->lock);
}

int sema_wait(Semaphore* semaphore, SignalEvent* cancel, uint32_t limit_ms) {
  for (int32_t count = __atomic_load_n(&semaphore->count, __ATOMIC_SEQ_CST); count > 0;
       count = __atomic_load_n(&semaphore->count, __ATOMIC_SEQ_CST)) {
    if (TryChange(&semaphore->count, count, count - 1)) return 1;
  }
  SemaphoreWaiter waiter{};
  hold_init(&waiter.hold);
  lock(&semaphore->lock);
  if (__atomic_sub_fetch(&semaphore->count, 1, __ATOMIC_SEQ_CST) >= 0) {
    unlock(&semaphore->lock);
    return 1;
  }
  if (semaphore->last) {
    semaphore->last->next = &waiter;
  } else {
    semaphore->first = &waiter;
  }
  semaphore->last = &waiter;
  unlock(&semaphore->lock);

  if (cancel) signal_subscribe_or_run(cancel, OnCancel, &waiter.cancel);
  hold_wait(&waiter.hold, limit_ms);
  if (cancel) signal_unsubscribe_settled(cancel, &waiter.cancel);

  lock(&semaphore->lock);
  const bool granted = __atomic_load_n(&waiter.granted, __ATOMIC_SEQ_CST) != 0;
  if (!granted) {
    Unlink(semaphore, &waiter);
    __atomic_add_fetch(&semaphore->count, 1, __ATOMIC_SEQ_CST);
  }
  unlock(&semaphore->lock);
  hold_term(&waiter.hold);
  return granted ? 1 : 0;
}

}  // namespace sm
