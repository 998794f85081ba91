#include "base/clock.h"

#include <gtest/gtest.h>

namespace sm {
namespace {

uint32_t g_fake_tick;
uint32_t FakeTick() { return g_fake_tick; }

// The 32-bit tick count wraps its sign bit at 2^31 ms and to 0 at 2^32 ms;
// the widened clock must keep counting through both, twice over.
TEST(Clock, WidenedTickCountRisesAcrossWraps) {
  uint64_t base = 0;
  uint64_t expected = 0;
  uint64_t previous = 0;
  const uint32_t steps[] = {5, 0x7FFFFFF0u - 5, 0x20, 0x7FFFFFD0u, 0x30, 0x10, 0x7FFFFFF0u, 0x7FFFFFFFu, 3};
  g_fake_tick = 0;
  for (const uint32_t step : steps) {
    g_fake_tick += step;
    expected += step;
    const uint64_t now = widen_tick_count(&base, FakeTick);
    EXPECT_EQ(now, expected) << "after a step of " << step;
    EXPECT_GE(now, previous);
    previous = now;
  }
  EXPECT_GT(expected, uint64_t{1} << 33);
}

TEST(Clock, MonotonicSleepAndSystemTime) {
  const uint64_t start = monotonic_ms();
  sleep_ms(30);
  const uint64_t slept = monotonic_ms() - start;
  EXPECT_GE(slept, 25u);
  EXPECT_LT(slept, 5000u);
  // 2020-01-01 as a file time; anything earlier means a wrong epoch or unit.
  EXPECT_GT(system_time(), 132223104000000000ull);
  EXPECT_LT(system_time(), 132223104000000000ull + 100ull * 365 * 86400 * 10000000);
}

}  // namespace
}  // namespace sm
