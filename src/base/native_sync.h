// The few platform primitives the wait machinery is built on: thread ids,
// notification events, delays, a plain mutex for the thread registry, threads
// and clocks. One implementation per platform (win32/, posix/); everything
// above them is written once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sm::native {

// Nonzero and a multiple of 4 for every thread (as Windows hands them out), so
// that a thread id with its low bit set never equals an aligned address.
uint32_t current_thread_id();

// A notification event: once set it stays set until cleared. Null when it
// cannot be made.
using EventHandle = void*;
EventHandle event_create();
void event_set(EventHandle event);
void event_clear(EventHandle event);
void event_close(EventHandle event);

inline constexpr uint32_t kWaitForever = 0xFFFFFFFFu;
enum class WaitResult { kSignalled, kTimedOut, kInterrupted, kFailed };
// Waits up to `ms` milliseconds (kWaitForever: no limit). An alertable wait may
// end early with kInterrupted when an alert or asynchronous call arrives.
WaitResult event_wait(EventHandle event, uint32_t ms, bool alertable);

// Sleeps `ms` milliseconds (negative: without end), alertable.
void delay(int64_t ms);

// A plain mutual-exclusion lock in caller storage (the thread registry's).
struct alignas(8) MutexStorage {
  unsigned char bytes[64];
};
void mutex_init(MutexStorage* mutex);
void mutex_enter(MutexStorage* mutex);
void mutex_leave(MutexStorage* mutex);
void mutex_destroy(MutexStorage* mutex);

// Threads. `stack_size` 0 means the platform default, else a reservation.
using ThreadHandle = void*;
using ThreadEntry = void (*)(void* argument);
ThreadHandle thread_start(ThreadEntry entry, void* argument, size_t stack_size);
// Whether the thread ended within `ms` milliseconds (0 polls).
bool thread_wait(ThreadHandle thread, uint32_t ms);
void thread_close(ThreadHandle thread);
// Lets the calling thread end its remaining work ahead of others.
void thread_raise_priority();

// Milliseconds since system start, and the current time as a file time.
uint64_t monotonic_ms();
uint64_t system_time();

}  // namespace sm::native
