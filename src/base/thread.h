// The thread registry: every thread started for the run's own work is
// registered, so that the end of the run can wait for all of them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sm {

using ThreadFunction = void (*)(void* argument);

// Starts a registered thread running `function(argument)`, then
// `at_exit(at_exit_argument)` when given. `stack_size` 0 is the platform
// default, another value a stack reservation. 1 when the thread was created,
// 0 otherwise (no memory, no shared wait state, no thread).
int create_thread(ThreadFunction function, void* argument, ThreadFunction at_exit, void* at_exit_argument,
                  size_t stack_size);
int create_thread(ThreadFunction function, void* argument);

// Raises process signal 5, joins every registered thread, raises signal 6.
void shutdown_threads();

// Records in the registry (live) and those of them whose thread has finished
// but was not joined yet (finished).
struct ThreadRegistryCounts {
  uint32_t live;
  uint32_t finished;
};
ThreadRegistryCounts thread_registry_counts();

}  // namespace sm
