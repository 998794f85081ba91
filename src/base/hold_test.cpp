#include "base/hold.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "base/clock.h"
#include "base/wait_state.h"

namespace sm {
namespace {

// Every case runs with cached native events and again with none, where the
// hold falls back to polling its state.
class HoldTest : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override { event_nodes_unavailable_for_test(GetParam()); }
  void TearDown() override { event_nodes_unavailable_for_test(false); }
};

TEST_P(HoldTest, WakeBeforeWaitReturnsAtOnce) {
  Hold hold;
  hold_init(&hold);
  hold_signal(&hold);
  const uint64_t start = monotonic_ms();
  EXPECT_EQ(hold_wait(&hold, kNoTimeLimit), 1);
  EXPECT_LT(monotonic_ms() - start, 1000u);
  hold_term(&hold);
}

TEST_P(HoldTest, TimesOutWithoutAWake) {
  for (const bool alertable : {false, true}) {
    Hold hold;
    hold_init(&hold);
    const uint64_t start = monotonic_ms();
    EXPECT_EQ(alertable ? hold_wait_alertable(&hold, 40) : hold_wait(&hold, 40), 0);
    const uint64_t waited = monotonic_ms() - start;
    EXPECT_GE(waited, 35u);
    EXPECT_LT(waited, 2000u);
    EXPECT_EQ(hold.state, 0);
    hold_term(&hold);
  }
}

TEST_P(HoldTest, WakeFromAnotherThreadEndsTheWait) {
  Hold hold;
  hold_init(&hold);
  std::thread waker([&] {
    sleep_ms(20);
    hold_signal(&hold);
  });
  EXPECT_EQ(hold_wait(&hold, kNoTimeLimit), 1);
  waker.join();
  hold_term(&hold);
}

// Wakes land just before, during and just after short time-outs. A wait that
// took the wake must say 1, one that said 0 must have left the wake to land
// afterwards (state 1), and no wait may see a wake that was not sent yet
// (a stale event left in a cached node would do that).
TEST_P(HoldTest, TimeOutRacingAWakeNeverLosesIt) {
  constexpr int kRounds = 100;
  std::atomic<int> round{-1};
  std::atomic<bool> sent{false};
  Hold hold;
  std::thread waker([&] {
    for (int r = 0; r < kRounds; ++r) {
      while (round.load() != r) std::this_thread::yield();
      const uint64_t until = monotonic_ms() + static_cast<uint64_t>(r % 3);
      while (monotonic_ms() < until) {
      }
      sent = true;
      hold_signal(&hold);
      round = -2 - r;  // done with this round
    }
  });
  int woken = 0;
  for (int r = 0; r < kRounds; ++r) {
    hold_init(&hold);
    sent = false;
    round = r;
    const int result = hold_wait(&hold, 1);
    const bool was_sent = sent.load();
    while (round.load() != -2 - r) std::this_thread::yield();
    if (result == 1) {
      ++woken;
      EXPECT_TRUE(was_sent) << "woken before any wake was sent, round " << r;
    } else {
      EXPECT_EQ(hold.state, 1) << "a wake was lost to the time-out, round " << r;
    }
    hold_term(&hold);
    if (HasFailure()) break;
  }
  waker.join();
  EXPECT_GT(woken, 0);
}

INSTANTIATE_TEST_SUITE_P(Events, HoldTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Polling" : "NativeEvents");
                         });

}  // namespace
}  // namespace sm
