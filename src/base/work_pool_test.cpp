// Registry and pool tests share process-wide state: they run in this order,
// and the last ones shut the registry down (process signal 5 stays raised).
#include "base/work_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>

#include "base/clock.h"
#include "base/exit.h"
#include "base/lock.h"
#include "base/native_sync.h"
#include "base/semaphore.h"
#include "base/signal.h"
#include "base/thread.h"

namespace sm {
namespace {

// Waits until every live registry record's thread has finished its function.
void AwaitAllFinished() {
  const uint64_t deadline = monotonic_ms() + 10000;
  for (;;) {
    const ThreadRegistryCounts counts = thread_registry_counts();
    if (counts.finished == counts.live || monotonic_ms() > deadline) return;
    sleep_ms(1);
  }
}

struct Log {
  Lock lock;
  std::string text;
};

void Append(void* argument, char c) {
  Log* log = static_cast<Log*>(argument);
  lock(&log->lock);
  log->text += c;
  unlock(&log->lock);
}

TEST(ThreadRegistry, RunsFunctionThenAtExitAndJoinsAsItGoes) {
  Log log{};
  ASSERT_EQ(create_thread([](void* p) { Append(p, 'f'); }, &log, [](void* p) { Append(p, 'x'); }, &log, 0x10000), 1);
  AwaitAllFinished();
  lock(&log.lock);
  EXPECT_EQ(log.text, "fx");
  unlock(&log.lock);

  // Finished threads are joined by later creations once they outnumber half
  // the live ones by more than two, so the registry stays small.
  uint32_t most_live = 0;
  for (int i = 0; i < 30; ++i) {
    ASSERT_EQ(create_thread([](void*) {}, nullptr), 1);
    AwaitAllFinished();
    const uint32_t live = thread_registry_counts().live;
    most_live = live > most_live ? live : most_live;
  }
  EXPECT_LE(most_live, 8u);
}

struct Seen {
  Lock lock;
  std::set<uint32_t> threads;
  Semaphore done;
};

void NoteThread(void* argument) {
  Seen* seen = static_cast<Seen*>(argument);
  lock(&seen->lock);
  seen->threads.insert(native::current_thread_id());
  unlock(&seen->lock);
  sema_signal(&seen->done);
}

TEST(WorkPool, ShortItemsReuseParkedWorkers) {
  Seen seen{};
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(start_work(NoteThread, &seen), 1);
    ASSERT_EQ(sema_wait(&seen.done, nullptr, 10000), 1);
    sleep_ms(2);  // lets the worker park again
  }
  EXPECT_LE(seen.threads.size(), 4u);
}

TEST(WorkPool, ShutdownWaitsForBusyWorkersAndReleasesIdleOnes) {
  // Two idle workers besides one that is busy for a while.
  Seen seen{};
  for (int i = 0; i < 2; ++i) ASSERT_EQ(start_work(NoteThread, &seen), 1);
  for (int i = 0; i < 2; ++i) ASSERT_EQ(sema_wait(&seen.done, nullptr, 10000), 1);
  static std::atomic<bool> busy_done{false};
  ASSERT_EQ(start_work(
                [](void*) {
                  sleep_ms(150);
                  busy_done = true;
                },
                nullptr),
            1);

  const uint64_t start = monotonic_ms();
  shutdown_threads();
  EXPECT_TRUE(busy_done);
  EXPECT_LT(monotonic_ms() - start, 5000u);
  const ThreadRegistryCounts counts = thread_registry_counts();
  EXPECT_EQ(counts.live, 0u);
  EXPECT_EQ(counts.finished, 0u);
  EXPECT_EQ(process_signal(kSignalThreadShutdown)->is_raised(), 1);
  EXPECT_EQ(process_signal(kSignalThreadsJoined)->is_raised(), 1);
}

TEST(WorkPool, WorkAfterShutdownStillRunsOnAThreadThatEnds) {
  Seen seen{};
  ASSERT_EQ(start_work(NoteThread, &seen), 1);
  EXPECT_EQ(sema_wait(&seen.done, nullptr, 10000), 1);
  AwaitAllFinished();
  EXPECT_EQ(thread_registry_counts().finished, 1u);
  shutdown_threads();
  EXPECT_EQ(thread_registry_counts().live, 0u);
}

// Exit routines run once, newest first, also those registered while they
// run; the wait state's routine shuts the registry down and the signal
// table's raises the exit signal.
TEST(ExitRoutines, RunNewestFirstAndOnce) {
  static std::string order;
  order.clear();
  ASSERT_TRUE(register_exit_routine([](void*) { order += 'a'; }, nullptr));
  ASSERT_TRUE(register_exit_routine(
      [](void*) {
        order += 'b';
        register_exit_routine([](void*) { order += 'c'; }, nullptr);
      },
      nullptr));
  run_exit_routines();
  EXPECT_EQ(order, "bca");
  EXPECT_EQ(process_signal(kSignalProcessExit)->is_raised(), 1);
  run_exit_routines();
  EXPECT_EQ(order, "bca");
  // The shared state comes back on demand afterwards.
  Seen seen{};
  ASSERT_EQ(create_thread(NoteThread, &seen), 1);
  EXPECT_EQ(sema_wait(&seen.done, nullptr, 10000), 1);
  shutdown_threads();
  EXPECT_EQ(thread_registry_counts().live, 0u);
}

}  // namespace
}  // namespace sm
