#include "base/signal.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <thread>

#include "base/clock.h"
#include "base/native_sync.h"

namespace sm {
namespace {

struct Recorder {
  SignalSubscription subscription;
  char name;
  std::string* log;
};

void Record(SignalSubscription* subscription) {
  Recorder* recorder = reinterpret_cast<Recorder*>(reinterpret_cast<char*>(subscription) - offsetof(Recorder, subscription));
  *recorder->log += recorder->name;
}

TEST(SignalEvent, RaiseCallsEachSubscriberOnceOldestFirst) {
  SignalEvent event;
  std::string log;
  Recorder a{{}, 'a', &log}, b{{}, 'b', &log}, c{{}, 'c', &log};
  EXPECT_EQ(event.subscribe(Record, &a.subscription), 1);
  EXPECT_EQ(event.subscribe(Record, &b.subscription), 1);
  EXPECT_EQ(event.subscribe(Record, &c.subscription), 1);
  EXPECT_EQ(event.unsubscribe(&b.subscription), 1);
  EXPECT_EQ(event.unsubscribe(&b.subscription), 0);
  event.raise();
  EXPECT_EQ(log, "ac");
  EXPECT_EQ(event.is_raised(), 1);
  // Taken off by the raise: a second raise calls nobody, unsubscribe says 0.
  event.raise();
  EXPECT_EQ(log, "ac");
  EXPECT_EQ(event.unsubscribe(&a.subscription), 0);
}

TEST(SignalEvent, SubscribeOnARaisedEventIsRefusedAndResetNotifies) {
  SignalEvent event;
  std::string log;
  Recorder a{{}, 'a', &log};
  event.raise();
  EXPECT_EQ(event.subscribe(Record, &a.subscription), 0);
  EXPECT_EQ(a.subscription.back, nullptr);
  EXPECT_EQ(event.unsubscribe(&a.subscription), 0);
  EXPECT_EQ(log, "");

  event.reset();
  EXPECT_EQ(event.is_raised(), 0);
  EXPECT_EQ(log, "");
  EXPECT_EQ(event.subscribe(Record, &a.subscription), 1);
  event.reset();  // reset also takes off and calls every subscriber
  EXPECT_EQ(log, "a");
  EXPECT_EQ(event.unsubscribe(&a.subscription), 0);
}

// Callbacks run outside the event's lock: one may subscribe to the same event
// again (refused while raised) without deadlock.
TEST(SignalEvent, CallbackMayUseTheEvent) {
  static SignalEvent event;
  signal_init(&event);
  struct Again {
    SignalSubscription subscription;
    SignalSubscription inner;
    int answer;
  } again{{}, {}, -1};
  event.subscribe(
      [](SignalSubscription* subscription) {
        Again* self = reinterpret_cast<Again*>(subscription);
        self->answer = event.subscribe([](SignalSubscription*) {}, &self->inner);
      },
      &again.subscription);
  event.raise();
  EXPECT_EQ(again.answer, 0);
}

TEST(ProcessSignal, NumbersAndConstants) {
  SignalEvent* always = process_signal(11);
  EXPECT_EQ(process_signal(12), always);
  EXPECT_EQ(process_signal(100), always);
  EXPECT_EQ(always->is_raised(), 1);
  always->reset();
  EXPECT_EQ(always->is_raised(), 1);

  SignalEvent* never = process_signal(0);
  EXPECT_EQ(never->is_raised(), 0);
  never->raise();
  EXPECT_EQ(never->is_raised(), 0);

  EXPECT_EQ(process_signal(3)->is_raised(), 1);
  for (uint32_t i = 0; i < 11; ++i) {
    for (uint32_t j = i + 1; j < 12; ++j) EXPECT_NE(process_signal(i), process_signal(j));
  }
}

TEST(PinWait, ReturnsWhenTheSignalIsRaised) {
  EXPECT_EQ(pin_wait(process_signal(11), nullptr, kNoTimeLimit), 1);

  SignalEvent quiet;
  uint64_t start = monotonic_ms();
  EXPECT_EQ(pin_wait(&quiet, nullptr, 50), 0);
  uint64_t waited = monotonic_ms() - start;
  EXPECT_GE(waited, 45u);
  EXPECT_LT(waited, 2000u);

  // Only the extra signal: 0, and at once.
  start = monotonic_ms();
  EXPECT_EQ(pin_wait(&quiet, process_signal(11), 5000), 0);
  EXPECT_LT(monotonic_ms() - start, 2000u);

  // Raised while waiting, with an extra signal that stays quiet.
  SignalEvent later;
  SignalEvent extra;
  std::thread raiser([&] {
    sleep_ms(20);
    later.raise();
  });
  EXPECT_EQ(pin_wait(&later, &extra, kNoTimeLimit), 1);
  raiser.join();

  // The extra signal raised while waiting ends the wait with 0.
  SignalEvent never_raised;
  std::thread extra_raiser([&] {
    sleep_ms(20);
    extra.raise();
  });
  EXPECT_EQ(pin_wait(&never_raised, &extra, kNoTimeLimit), 0);
  extra_raiser.join();
}

TEST(WaitNode, EventFollowsTheSignal) {
  SignalEvent signal;
  EventNode* node = wait_node_take();
  ASSERT_NE(node, nullptr);
  void* event = wait_node_event(node);
  wait_node_arm(node, &signal);
  EXPECT_EQ(native::event_wait(event, 0, false), native::WaitResult::kTimedOut);
  std::thread raiser([&] {
    sleep_ms(20);
    signal.raise();
  });
  EXPECT_EQ(native::event_wait(event, 5000, false), native::WaitResult::kSignalled);
  raiser.join();
  wait_node_disarm(node, &signal);
  wait_node_give(node);

  // Armed on a raised signal: set at once. Given back clean for the next user.
  node = wait_node_take();
  ASSERT_NE(node, nullptr);
  wait_node_arm(node, &signal);
  EXPECT_EQ(native::event_wait(wait_node_event(node), 0, false), native::WaitResult::kSignalled);
  wait_node_disarm(node, &signal);
  EXPECT_EQ(native::event_wait(wait_node_event(node), 0, false), native::WaitResult::kTimedOut);
  wait_node_give(node);

  // Disarmed before any raise: nothing set, nothing called later.
  SignalEvent quiet;
  node = wait_node_take();
  wait_node_arm(node, &quiet);
  wait_node_disarm(node, &quiet);
  quiet.raise();
  EXPECT_EQ(native::event_wait(wait_node_event(node), 0, false), native::WaitResult::kTimedOut);
  wait_node_give(node);
}

}  // namespace
}  // namespace sm
