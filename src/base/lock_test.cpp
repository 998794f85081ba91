#include "base/lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "base/semaphore.h"
#include "base/wait_state.h"

namespace sm {
namespace {

uintptr_t StateOf(Lock* target) { return __atomic_load_n(&target->state, __ATOMIC_SEQ_CST); }

// Waits until the lock's state word moves away from `seen`: a new waiter has
// queued itself.
void AwaitNewWaiter(Lock* target, uintptr_t seen) {
  const uint64_t deadline = monotonic_ms() + 10000;
  while (StateOf(target) == seen && monotonic_ms() < deadline) sleep_ms(1);
  ASSERT_NE(StateOf(target), seen) << "the thread never queued on the lock";
}

void ExpectArrivalOrder() {
  Lock target{};
  std::string order;
  lock(&target);
  std::vector<std::thread> threads;
  for (const char name : std::string("ABC")) {
    const uintptr_t seen = StateOf(&target);
    threads.emplace_back([&target, &order, name] {
      lock(&target);
      order += name;
      unlock(&target);
    });
    AwaitNewWaiter(&target, seen);
  }
  unlock(&target);
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(order, "ABC");
  EXPECT_EQ(StateOf(&target), 0u);
  EXPECT_EQ(target.owner, 0u);
}

TEST(Lock, WaitersGetTheLockInArrivalOrder) { ExpectArrivalOrder(); }

// Without native events the waiters poll, and the lock still excludes and
// keeps the order.
TEST(Lock, ExcludesWithoutNativeEvents) {
  event_nodes_unavailable_for_test(true);
  ExpectArrivalOrder();
  Lock target{};
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 300; ++i) {
        lock(&target);
        counter += 1;
        unlock(&target);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  event_nodes_unavailable_for_test(false);
  EXPECT_EQ(counter, 900);
}

TEST(Lock, UncontendedLockLeavesNoTrace) {
  Lock target{};
  lock(&target);
  EXPECT_NE(target.owner, 0u);
  EXPECT_EQ(StateOf(&target) & 1, 1u);
  unlock(&target);
  EXPECT_EQ(StateOf(&target), 0u);
  EXPECT_EQ(target.owner, 0u);
}

TEST(Lock, KeyedLocksExcludeBySameAddress) {
  static int value;
  std::atomic<bool> entered{false};
  keyed_lock(&value);
  std::thread other([&] {
    keyed_lock(&value);
    entered = true;
    keyed_unlock(&value);
  });
  sleep_ms(30);
  EXPECT_FALSE(entered);
  keyed_unlock(&value);
  other.join();
  EXPECT_TRUE(entered);
}

// Many threads and rounds: plain counters guarded by the lock must add up
// (and ThreadSanitizer sees every access ordered), and every semaphore unit
// signalled is taken exactly once, also by waiters that time out meanwhile.
TEST(Lock, StressLockAndSemaphoreRounds) {
  constexpr int kThreads = 6;
  constexpr int kRounds = 4000;
  Lock target{};
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        lock(&target);
        counter += 1;
        unlock(&target);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(counter, kThreads * kRounds);

  constexpr int kUnits = 400;
  Semaphore semaphore{};
  std::atomic<int> taken{0};
  std::atomic<int> timeouts{0};
  threads.clear();
  for (int t = 0; t < kThreads / 2; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kUnits; ++i) sema_signal(&semaphore);
    });
    threads.emplace_back([&] {
      for (int got = 0; got < kUnits;) {
        if (sema_wait(&semaphore, nullptr, 1)) {
          ++got;
        } else {
          ++timeouts;
        }
      }
      taken += kUnits;
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(taken, kThreads / 2 * kUnits);
  EXPECT_EQ(semaphore.count, 0);
  EXPECT_EQ(semaphore.first, nullptr);
  EXPECT_EQ(semaphore.last, nullptr);
}

}  // namespace
}  // namespace sm
