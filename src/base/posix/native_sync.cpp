// POSIX stand-ins for the native primitives: a notification event on a mutex
// and a condition variable, pthreads, and the monotonic and real-time clocks.
#include "base/native_sync.h"

#include <errno.h>
#include <limits.h>
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <new>

namespace sm::native {
namespace {

struct Event {
  pthread_mutex_t mutex;
  pthread_cond_t cond;
  bool set;
};

timespec Now(clockid_t clock) {
  timespec now;
  clock_gettime(clock, &now);
  return now;
}

timespec After(uint32_t ms) {
  timespec when = Now(CLOCK_MONOTONIC);
  when.tv_sec += ms / 1000;
  when.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (when.tv_nsec >= 1000000000L) {
    when.tv_sec += 1;
    when.tv_nsec -= 1000000000L;
  }
  return when;
}

bool InitMonotonicCond(pthread_cond_t* cond) {
  pthread_condattr_t attr;
  if (pthread_condattr_init(&attr) != 0) return false;
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  const bool ok = pthread_cond_init(cond, &attr) == 0;
  pthread_condattr_destroy(&attr);
  return ok;
}

// A thread handle: the thread reports the end of its entry function here, so
// that joins can wait with a time limit.
struct Thread {
  pthread_t thread;
  pthread_mutex_t mutex;
  pthread_cond_t cond;
  bool ended;
  int references;  // the thread itself and the handle's owner
  ThreadEntry entry;
  void* argument;
};

void DropReference(Thread* thread) {
  pthread_mutex_lock(&thread->mutex);
  const bool last = --thread->references == 0;
  pthread_mutex_unlock(&thread->mutex);
  if (last) {
    pthread_cond_destroy(&thread->cond);
    pthread_mutex_destroy(&thread->mutex);
    delete thread;
  }
}

void* ThreadMain(void* argument) {
  Thread* thread = static_cast<Thread*>(argument);
  thread->entry(thread->argument);
  pthread_mutex_lock(&thread->mutex);
  thread->ended = true;
  pthread_cond_broadcast(&thread->cond);
  pthread_mutex_unlock(&thread->mutex);
  DropReference(thread);
  return nullptr;
}

std::atomic<uint32_t> g_next_thread_id{1};
// Constant-initialised, so reading it costs no initialisation check.
thread_local uint32_t t_thread_id = 0;

}  // namespace

uint32_t current_thread_id() {
  if (!t_thread_id) t_thread_id = g_next_thread_id.fetch_add(1, std::memory_order_relaxed) * 4;
  return t_thread_id;
}

EventHandle event_create() {
  Event* event = new (std::nothrow) Event;
  if (!event) return nullptr;
  event->set = false;
  if (pthread_mutex_init(&event->mutex, nullptr) != 0) {
    delete event;
    return nullptr;
  }
  if (!InitMonotonicCond(&event->cond)) {
    pthread_mutex_destroy(&event->mutex);
    delete event;
    return nullptr;
  }
  return event;
}

void event_set(EventHandle handle) {
  Event* event = static_cast<Event*>(handle);
  pthread_mutex_lock(&event->mutex);
  event->set = true;
  pthread_cond_broadcast(&event->cond);
  pthread_mutex_unlock(&event->mutex);
}

void event_clear(EventHandle handle) {
  Event* event = static_cast<Event*>(handle);
  pthread_mutex_lock(&event->mutex);
  event->set = false;
  pthread_mutex_unlock(&event->mutex);
}

void event_close(EventHandle handle) {
  Event* event = static_cast<Event*>(handle);
  pthread_cond_destroy(&event->cond);
  pthread_mutex_destroy(&event->mutex);
  delete event;
}

WaitResult event_wait(EventHandle handle, uint32_t ms, bool /*alertable*/) {
  Event* event = static_cast<Event*>(handle);
  const timespec deadline = After(ms == kWaitForever ? 0 : ms);
  pthread_mutex_lock(&event->mutex);
  int status = 0;
  while (!event->set && status != ETIMEDOUT) {
    status = ms == kWaitForever ? pthread_cond_wait(&event->cond, &event->mutex)
                                : pthread_cond_timedwait(&event->cond, &event->mutex, &deadline);
  }
  const bool set = event->set;
  pthread_mutex_unlock(&event->mutex);
  return set ? WaitResult::kSignalled : WaitResult::kTimedOut;
}

void delay(int64_t ms) {
  if (ms < 0) {
    for (;;) {
      timespec day = {86400, 0};
      nanosleep(&day, nullptr);
    }
  }
  timespec deadline = Now(CLOCK_MONOTONIC);
  deadline.tv_sec += static_cast<time_t>(ms / 1000);
  deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

void mutex_init(MutexStorage* storage) {
  static_assert(sizeof(pthread_mutex_t) <= sizeof(MutexStorage));
  new (storage->bytes) pthread_mutex_t;
  pthread_mutex_init(reinterpret_cast<pthread_mutex_t*>(storage->bytes), nullptr);
}
void mutex_enter(MutexStorage* storage) { pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(storage->bytes)); }
void mutex_leave(MutexStorage* storage) { pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(storage->bytes)); }
void mutex_destroy(MutexStorage* storage) { pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(storage->bytes)); }

ThreadHandle thread_start(ThreadEntry entry, void* argument, size_t stack_size) {
  Thread* thread = new (std::nothrow) Thread;
  if (!thread) return nullptr;
  thread->ended = false;
  thread->references = 2;
  thread->entry = entry;
  thread->argument = argument;
  if (pthread_mutex_init(&thread->mutex, nullptr) != 0) {
    delete thread;
    return nullptr;
  }
  if (!InitMonotonicCond(&thread->cond)) {
    pthread_mutex_destroy(&thread->mutex);
    delete thread;
    return nullptr;
  }
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  if (stack_size) {
    const size_t minimum = static_cast<size_t>(PTHREAD_STACK_MIN);
    pthread_attr_setstacksize(&attr, stack_size < minimum ? minimum : stack_size);
  }
  const int status = pthread_create(&thread->thread, &attr, ThreadMain, thread);
  pthread_attr_destroy(&attr);
  if (status != 0) {
    pthread_cond_destroy(&thread->cond);
    pthread_mutex_destroy(&thread->mutex);
    delete thread;
    return nullptr;
  }
  return thread;
}

bool thread_wait(ThreadHandle handle, uint32_t ms) {
  Thread* thread = static_cast<Thread*>(handle);
  const timespec deadline = After(ms == kWaitForever ? 0 : ms);
  pthread_mutex_lock(&thread->mutex);
  int status = 0;
  while (!thread->ended && status != ETIMEDOUT) {
    status = ms == kWaitForever ? pthread_cond_wait(&thread->cond, &thread->mutex)
                                : pthread_cond_timedwait(&thread->cond, &thread->mutex, &deadline);
  }
  const bool ended = thread->ended;
  pthread_mutex_unlock(&thread->mutex);
  return ended;
}

void thread_close(ThreadHandle handle) {
  Thread* thread = static_cast<Thread*>(handle);
  pthread_mutex_lock(&thread->mutex);
  const bool ended = thread->ended;
  pthread_mutex_unlock(&thread->mutex);
  // An ended thread is only returning: reap it. One that still runs is left
  // to end on its own, as closing a Windows handle would.
  if (ended) {
    pthread_join(thread->thread, nullptr);
  } else {
    pthread_detach(thread->thread);
  }
  DropReference(thread);
}

void thread_raise_priority() {
  // Raising a thread's priority needs privileges on POSIX; the order of the
  // run does not depend on it.
}

uint64_t monotonic_ms() {
  const timespec now = Now(CLOCK_MONOTONIC);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

uint64_t system_time() {
  // File times count 100 ns from 1601-01-01; the Unix epoch is 11644473600 s later.
  const timespec now = Now(CLOCK_REALTIME);
  return (static_cast<uint64_t>(now.tv_sec) + 11644473600ull) * 10000000ull +
         static_cast<uint64_t>(now.tv_nsec) / 100u;
}

}  // namespace sm::native
