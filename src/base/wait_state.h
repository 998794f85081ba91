// The process-wide shared wait state: the event buckets that cache native
// events for blocking threads, and the thread registry. Internal to base.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/native_sync.h"
#include "base/signal.h"

namespace sm {

// A cached native notification event. Nodes are never freed before exit.
struct EventNode {
  // Used while the node is armed on a signal (wait nodes).
  SignalSubscription subscription;
  EventNode* next;
  native::EventHandle event;
  uint8_t fired;
  uint8_t armed;
};

// One cache line: a ticket spin lock and the free nodes of the threads that
// hash here.
struct alignas(64) EventBucket {
  // Next ticket in bits 20-30, now serving in bits 8-18.
  uint32_t ticket;
  uint32_t owner;
  EventNode* free;
};

struct ThreadRecord;

struct ThreadRegistry {
  native::MutexStorage mutex;
  ThreadRecord* head;
  uint32_t live;
  uint32_t finished;
  uint32_t generation;
};

inline constexpr int kEventBuckets = 32;

struct alignas(64) WaitState {
  EventBucket buckets[kEventBuckets];
  ThreadRegistry registry;
  void* raw;
  size_t size;
};

// Thomas Wang's 32-bit integer hash (hash32shift).
inline uint32_t thread_hash(uint32_t key) {
  key = ~key + (key << 15);
  key ^= key >> 12;
  key *= 5;
  key ^= key >> 4;
  key *= 2057;
  key ^= key >> 16;
  return key;
}

// The shared state, created on first use; null only when it cannot be
// allocated (everything here then still works, more slowly).
WaitState* wait_state();

// The calling thread's bucket, or null without a shared state.
EventBucket* current_bucket();
// A node from the bucket's free list, or a new one (also when `bucket` is
// null); null when no native event can be made.
EventNode* event_node_take(EventBucket* bucket);
// Test seam: while set, event_node_take answers null as when no native event
// can be made, so that holds fall back to polling.
void event_nodes_unavailable_for_test(bool unavailable);
// Clears the node and puts it back; without a bucket it is destroyed.
void event_node_give(EventBucket* bucket, EventNode* node);

}  // namespace sm
