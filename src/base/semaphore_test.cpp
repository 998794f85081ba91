#include "base/semaphore.h"

#include <gtest/gtest.h>

#include <thread>

#include "base/clock.h"
#include "base/hold.h"
#include "base/signal.h"

namespace sm {
namespace {

TEST(Semaphore, CountsUnits) {
  Semaphore semaphore{};
  sema_signal(&semaphore);
  sema_signal(&semaphore);
  EXPECT_EQ(semaphore.count, 2);
  EXPECT_EQ(sema_wait(&semaphore, nullptr, 0), 1);
  EXPECT_EQ(sema_wait(&semaphore, nullptr, 0), 1);
  const uint64_t start = monotonic_ms();
  EXPECT_EQ(sema_wait(&semaphore, nullptr, 10), 0);
  EXPECT_GE(monotonic_ms() - start, 8u);
  EXPECT_EQ(semaphore.count, 0);
  EXPECT_EQ(semaphore.first, nullptr);
}

TEST(Semaphore, WaiterGetsAUnitSignalledLater) {
  Semaphore semaphore{};
  std::thread signaller([&] {
    sleep_ms(20);
    sema_signal(&semaphore);
  });
  EXPECT_EQ(sema_wait(&semaphore, nullptr, kNoTimeLimit), 1);
  signaller.join();
  EXPECT_EQ(semaphore.count, 0);
}

TEST(Semaphore, CancelSignalEndsTheWait) {
  Semaphore semaphore{};
  SignalEvent cancel;
  std::thread canceller([&] {
    sleep_ms(20);
    cancel.raise();
  });
  EXPECT_EQ(sema_wait(&semaphore, &cancel, kNoTimeLimit), 0);
  canceller.join();
  EXPECT_EQ(semaphore.count, 0);
  EXPECT_EQ(semaphore.first, nullptr);

  // Already raised: no wait at all, unless a unit is free.
  const uint64_t start = monotonic_ms();
  EXPECT_EQ(sema_wait(&semaphore, &cancel, kNoTimeLimit), 0);
  EXPECT_LT(monotonic_ms() - start, 2000u);
  sema_signal(&semaphore);
  EXPECT_EQ(sema_wait(&semaphore, &cancel, kNoTimeLimit), 1);
  EXPECT_EQ(semaphore.count, 0);
}

}  // namespace
}  // namespace sm
