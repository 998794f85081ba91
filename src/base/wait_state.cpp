#include "base/wait_state.h"

#include <cstdlib>
#include <new>

#include "base/exit.h"
#include "base/signal.h"
#include "base/thread.h"

namespace sm {
namespace {

WaitState* g_state;
bool g_nodes_unavailable;

void CpuPause() {
#if defined(__i386__) || defined(__x86_64__)
  __builtin_ia32_pause();
#endif
}

constexpr uint32_t kTicketUnit = 1u << 20;
constexpr uint32_t kServingShift = 8;
constexpr uint32_t kTicketMask = 0x7FFu;

void SpinAcquire(EventBucket* bucket) {
  const uint32_t mine = (__atomic_fetch_add(&bucket->ticket, kTicketUnit, __ATOMIC_ACQUIRE) >> 20) & kTicketMask;
  while (((__atomic_load_n(&bucket->ticket, __ATOMIC_ACQUIRE) >> kServingShift) & kTicketMask) != mine) CpuPause();
  __atomic_store_n(&bucket->owner, native::current_thread_id(), __ATOMIC_RELAXED);
}

void SpinRelease(EventBucket* bucket) {
  __atomic_store_n(&bucket->owner, 0u, __ATOMIC_RELAXED);
  // Only the owner moves "now serving", but new tickets arrive meanwhile; the
  // wrap of the serving field must not carry into the ticket field.
  uint32_t old = __atomic_load_n(&bucket->ticket, __ATOMIC_RELAXED);
  uint32_t next;
  do {
    const uint32_t serving = ((old >> kServingShift) + 1) & kTicketMask;
    next = (old & ~(0xFFFu << kServingShift)) | (serving << kServingShift);
  } while (!__atomic_compare_exchange_n(&bucket->ticket, &old, next, true, __ATOMIC_RELEASE, __ATOMIC_RELAXED));
}

void DestroyNode(EventNode* node) {
  native::event_close(node->event);
  delete node;
}

void DestroyState(WaitState* state) {
  native::mutex_destroy(&state->registry.mutex);
  for (EventBucket& bucket : state->buckets) {
    while (EventNode* node = bucket.free) {
      bucket.free = node->next;
      DestroyNode(node);
    }
  }
  std::free(state->raw);
}

void ExitWaitState(void*) {
  shutdown_threads();
  WaitState* state = __atomic_exchange_n(&g_state, nullptr, __ATOMIC_ACQ_REL);
  if (state) DestroyState(state);
}

WaitState* CreateState() {
  const size_t size = sizeof(WaitState) + 63;
  void* raw = std::calloc(1, size);
  if (!raw) return nullptr;
  WaitState* state = new (reinterpret_cast<void*>((reinterpret_cast<uintptr_t>(raw) + 63) & ~uintptr_t{63})) WaitState{};
  state->raw = raw;
  state->size = size;
  state->registry.generation = 1;
  native::mutex_init(&state->registry.mutex);

  WaitState* expected = nullptr;
  if (!__atomic_compare_exchange_n(&g_state, &expected, state, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
    DestroyState(state);
    return expected;
  }
  // Registered before the signal table is built, so that the table's exit
  // routine (raising the exit signal) runs before the threads are shut down.
  register_exit_routine(ExitWaitState, nullptr);
  process_signal(0);
  return state;
}

}  // namespace

WaitState* wait_state() {
  WaitState* state = __atomic_load_n(&g_state, __ATOMIC_ACQUIRE);
  return state ? state : CreateState();
}

EventBucket* current_bucket() {
  WaitState* state = wait_state();
  if (!state) return nullptr;
  return &state->buckets[thread_hash(native::current_thread_id()) & (kEventBuckets - 1)];
}

void event_nodes_unavailable_for_test(bool unavailable) {
  __atomic_store_n(&g_nodes_unavailable, unavailable, __ATOMIC_SEQ_CST);
}

EventNode* event_node_take(EventBucket* bucket) {
  if (__atomic_load_n(&g_nodes_unavailable, __ATOMIC_RELAXED)) return nullptr;
  EventNode* node = nullptr;
  if (bucket) {
    SpinAcquire(bucket);
    node = bucket->free;
    if (node) bucket->free = node->next;
    SpinRelease(bucket);
  }
  if (node) {
    node->next = nullptr;
    return node;
  }
  node = new (std::nothrow) EventNode{};
  if (!node) return nullptr;
  node->event = native::event_create();
  if (!node->event) {
    delete node;
    return nullptr;
  }
  return node;
}

void event_node_give(EventBucket* bucket, EventNode* node) {
  native::event_clear(node->event);
  node->fired = 0;
  node->armed = 0;
  if (!bucket) {
    DestroyNode(node);
    return;
  }
  SpinAcquire(bucket);
  node->next = bucket->free;
  bucket->free = node;
  SpinRelease(bucket);
}

}  // namespace sm
