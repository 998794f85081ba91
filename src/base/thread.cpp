#include "base/thread.h"

#include <cstdlib>

#include "base/native_sync.h"
#include "base/signal.h"
#include "base/wait_state.h"

namespace sm {

struct ThreadRecord {
  ThreadRecord* next;
  ThreadFunction function;
  void* argument;
  ThreadFunction at_exit;
  void* at_exit_argument;
  native::ThreadHandle handle;
  // 0 while the thread runs its function; then the generation it finished in.
  uint32_t stamp;
  uint32_t flag;
};

namespace {

uint32_t Generation(ThreadRegistry* registry) { return __atomic_load_n(&registry->generation, __ATOMIC_SEQ_CST); }

uint32_t Stamp(ThreadRecord* record) { return __atomic_load_n(&record->stamp, __ATOMIC_SEQ_CST); }

// The end of a thread's life: at-exit function, then stamp and count. The
// stamp is the last touch of the record; a joiner may free it right after.
void Finish(ThreadRecord* record) {
  if (record->at_exit) record->at_exit(record->at_exit_argument);
  WaitState* state = wait_state();
  if (!state) {
    __atomic_store_n(&record->stamp, 1u, __ATOMIC_SEQ_CST);
    return;
  }
  ThreadRegistry* registry = &state->registry;
  native::mutex_enter(&registry->mutex);
  registry->finished += 1;
  __atomic_store_n(&record->stamp, Generation(registry), __ATOMIC_SEQ_CST);
  native::mutex_leave(&registry->mutex);
}

void ThreadBody(void* argument) {
  ThreadRecord* record = static_cast<ThreadRecord*>(argument);
  record->function(record->argument);
  // Others may be waiting for the rest of this thread's life.
  native::thread_raise_priority();
  Finish(record);
}

void Join(ThreadRegistry* registry, ThreadRecord* record) {
  native::ThreadHandle handle = record->handle;
  if (!native::thread_wait(handle, 0)) {
    for (;;) {
      if (!Stamp(record)) {
        if (native::thread_wait(handle, 50)) break;
        continue;
      }
      // It finished its function but has not ended: give it a few short
      // waits, fewer when other joins advance the generation meanwhile.
      const uint32_t stamp = Stamp(record);
      while (Generation(registry) - stamp < 5) {
        if (native::thread_wait(handle, 10)) break;
        __atomic_fetch_add(&registry->generation, 1u, __ATOMIC_SEQ_CST);
      }
      break;
    }
  }
  // Ended without finishing normally: finish it on its behalf.
  if (!Stamp(record) && native::thread_wait(handle, 0)) Finish(record);
  native::thread_close(handle);
}

}  // namespace

int create_thread(ThreadFunction function, void* argument, ThreadFunction at_exit, void* at_exit_argument,
                  size_t stack_size) {
  WaitState* state = wait_state();
  if (!state) return 0;
  ThreadRegistry* registry = &state->registry;
  ThreadRecord* record = static_cast<ThreadRecord*>(std::calloc(1, sizeof(ThreadRecord)));
  if (!record) return 0;
  record->function = function;
  record->argument = argument;
  record->at_exit = at_exit;
  record->at_exit_argument = at_exit_argument;

  // The record is linked only once its handle exists, so that a concurrent
  // shutdown never frees a record whose handle is still being stored.
  native::ThreadHandle handle = native::thread_start(ThreadBody, record, stack_size);
  if (!handle) {
    std::free(record);
    return 0;
  }

  ThreadRecord* joinable = nullptr;
  native::mutex_enter(&registry->mutex);
  record->handle = handle;
  record->next = registry->head;
  registry->head = record;
  registry->live += 1;
  if (registry->finished > registry->live / 2 + 2) {
    for (ThreadRecord** link = &registry->head; *link;) {
      ThreadRecord* each = *link;
      if (each->handle && Stamp(each)) {
        *link = each->next;
        each->next = joinable;
        joinable = each;
        registry->live -= 1;
        registry->finished -= 1;
      } else {
        link = &each->next;
      }
    }
  }
  native::mutex_leave(&registry->mutex);

  while (joinable) {
    ThreadRecord* next = joinable->next;
    Join(registry, joinable);
    std::free(joinable);
    joinable = next;
  }
  return 1;
}

int create_thread(ThreadFunction function, void* argument) {
  return create_thread(function, argument, nullptr, nullptr, 0);
}

void shutdown_threads() {
  process_signal(kSignalThreadShutdown)->raise();
  if (WaitState* state = wait_state()) {
    ThreadRegistry* registry = &state->registry;
    native::mutex_enter(&registry->mutex);
    while (ThreadRecord* record = registry->head) {
      registry->head = record->next;
      registry->live -= 1;
      native::mutex_leave(&registry->mutex);
      if (record->handle) Join(registry, record);
      std::free(record);
      native::mutex_enter(&registry->mutex);
      registry->finished -= 1;
    }
    native::mutex_leave(&registry->mutex);
  }
  process_signal(kSignalThreadsJoined)->raise();
}

ThreadRegistryCounts thread_registry_counts() {
  ThreadRegistryCounts counts{0, 0};
  if (WaitState* state = wait_state()) {
    native::mutex_enter(&state->registry.mutex);
    counts.live = state->registry.live;
    counts.finished = state->registry.finished;
    native::mutex_leave(&state->registry.mutex);
  }
  return counts;
}

}  // namespace sm
