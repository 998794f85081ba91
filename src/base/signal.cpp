#include "base/signal.h"

#include <cstddef>
#include <new>

#include "base/clock.h"
#include "base/exit.h"
#include "base/hold.h"
#include "base/wait_state.h"

namespace sm {
namespace {

template <typename Record, typename Member>
Record* RecordOf(Member* member, size_t offset) {
  return reinterpret_cast<Record*>(reinterpret_cast<char*>(member) - offset);
}

SignalCallback LoadCallback(SignalSubscription* subscription) {
  return __atomic_load_n(&subscription->callback, __ATOMIC_SEQ_CST);
}

class ConstantSignalEvent final : public SignalEvent {
 public:
  constexpr explicit ConstantSignalEvent(bool raised) : SignalEvent(raised) {}
  void raise() override {}
  void reset() override {}
};
static_assert(sizeof(ConstantSignalEvent) == sizeof(SignalEvent));

constexpr uint32_t kProcessSignals = 12;
alignas(SignalEvent) unsigned char g_table[kProcessSignals][sizeof(SignalEvent)];
uint32_t g_table_built;

SignalEvent* TableEntry(uint32_t number) { return std::launder(reinterpret_cast<SignalEvent*>(g_table[number])); }

void RaiseProcessExit(void*) { TableEntry(kSignalProcessExit)->raise(); }

// pin_wait's record: both callbacks share one woken word, so the hold is
// signalled once.
struct PinWait {
  Hold hold;
  uint32_t woken;
  uint32_t result;
  SignalSubscription main;
  SignalSubscription extra;
};

void WakePin(PinWait* wait) {
  uint32_t expected = 0;
  if (__atomic_compare_exchange_n(&wait->woken, &expected, 1u, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) {
    hold_signal(&wait->hold);
  }
}

void OnPinMain(SignalSubscription* subscription) {
  PinWait* wait = RecordOf<PinWait>(subscription, offsetof(PinWait, main));
  __atomic_store_n(&wait->result, 1u, __ATOMIC_SEQ_CST);
  WakePin(wait);
  signal_callback_done(subscription);
}

void OnPinExtra(SignalSubscription* subscription) {
  WakePin(RecordOf<PinWait>(subscription, offsetof(PinWait, extra)));
  signal_callback_done(subscription);
}

void OnWaitNodeRaised(SignalSubscription* subscription) {
  EventNode* node = RecordOf<EventNode>(subscription, offsetof(EventNode, subscription));
  native::event_set(node->event);
  __atomic_store_n(&node->fired, uint8_t{1}, __ATOMIC_SEQ_CST);
}

}  // namespace

void SignalEvent::Notify(uint32_t raised) {
  lock(&lock_);
  __atomic_store_n(&raised_, raised, __ATOMIC_SEQ_CST);
  SignalSubscription* newest = head_;
  head_ = nullptr;
  for (SignalSubscription* each = newest; each; each = each->next) each->back = nullptr;
  unlock(&lock_);

  // The list holds the newest first; call the oldest first.
  SignalSubscription* oldest = nullptr;
  while (newest) {
    SignalSubscription* next = newest->next;
    newest->next = oldest;
    oldest = newest;
    newest = next;
  }
  while (oldest) {
    SignalSubscription* next = oldest->next;
    oldest->next = nullptr;
    if (SignalCallback callback = LoadCallback(oldest)) callback(oldest);
    oldest = next;
  }
}

void SignalEvent::raise() { Notify(1); }

void SignalEvent::reset() { Notify(0); }

int SignalEvent::subscribe(SignalCallback callback, SignalSubscription* subscription) {
  subscription->back = nullptr;
  subscription->next = nullptr;
  __atomic_store_n(&subscription->callback, callback, __ATOMIC_SEQ_CST);
  lock(&lock_);
  if (__atomic_load_n(&raised_, __ATOMIC_SEQ_CST)) {
    unlock(&lock_);
    return 0;
  }
  subscription->next = head_;
  if (head_) head_->back = &subscription->next;
  head_ = subscription;
  subscription->back = &head_;
  unlock(&lock_);
  return 1;
}

int SignalEvent::unsubscribe(SignalSubscription* subscription) {
  lock(&lock_);
  SignalSubscription** back = subscription->back;
  if (back) {
    *back = subscription->next;
    if (subscription->next) subscription->next->back = back;
    subscription->back = nullptr;
    subscription->next = nullptr;
  }
  unlock(&lock_);
  return back ? 1 : 0;
}

int SignalEvent::is_raised() { return static_cast<int>(__atomic_load_n(&raised_, __ATOMIC_SEQ_CST)); }

void signal_subscribe_or_run(SignalEvent* signal, SignalCallback callback, SignalSubscription* subscription) {
  if (!signal->subscribe(callback, subscription)) callback(subscription);
}

void signal_unsubscribe_settled(SignalEvent* signal, SignalSubscription* subscription) {
  if (signal->unsubscribe(subscription)) return;
  while (LoadCallback(subscription)) sleep_ms(10);
}

void signal_callback_done(SignalSubscription* subscription) {
  // A sequentially consistent store: a full barrier after the callback's work.
  __atomic_store_n(&subscription->callback, static_cast<SignalCallback>(nullptr), __ATOMIC_SEQ_CST);
}

void signal_init(SignalEvent* event) { new (event) SignalEvent(); }

SignalEvent* process_signal(uint32_t number) {
  if (!__atomic_load_n(&g_table_built, __ATOMIC_ACQUIRE)) {
    bool built_here = false;
    keyed_lock(&g_table_built);
    if (!__atomic_load_n(&g_table_built, __ATOMIC_ACQUIRE)) {
      for (uint32_t i = 1; i + 1 < kProcessSignals; ++i) new (g_table[i]) SignalEvent();
      new (g_table[kSignalNever]) ConstantSignalEvent(false);
      new (g_table[kSignalAlways]) ConstantSignalEvent(true);
      TableEntry(kSignalTableBuilt)->raise();
      __atomic_store_n(&g_table_built, 1u, __ATOMIC_SEQ_CST);
      built_here = true;
    }
    keyed_unlock(&g_table_built);
    if (built_here) register_exit_routine(RaiseProcessExit, nullptr);
  }
  return TableEntry(number > 10 ? kSignalAlways : number);
}

int pin_wait(SignalEvent* signal, SignalEvent* extra, uint32_t limit_ms) {
  PinWait wait{};
  hold_init(&wait.hold);
  signal_subscribe_or_run(signal, OnPinMain, &wait.main);
  if (extra) signal_subscribe_or_run(extra, OnPinExtra, &wait.extra);
  hold_wait_alertable(&wait.hold, limit_ms);
  signal_unsubscribe_settled(signal, &wait.main);
  if (extra) signal_unsubscribe_settled(extra, &wait.extra);
  hold_term(&wait.hold);
  return static_cast<int>(__atomic_load_n(&wait.result, __ATOMIC_SEQ_CST));
}

EventNode* wait_node_take() { return event_node_take(current_bucket()); }

void wait_node_arm(EventNode* node, SignalEvent* signal) {
  __atomic_store_n(&node->armed, uint8_t{1}, __ATOMIC_SEQ_CST);
  signal_subscribe_or_run(signal, OnWaitNodeRaised, &node->subscription);
}

void wait_node_disarm(EventNode* node, SignalEvent* signal) {
  if (signal->unsubscribe(&node->subscription)) return;
  if (!__atomic_load_n(&node->armed, __ATOMIC_SEQ_CST)) return;
  while (!__atomic_load_n(&node->fired, __ATOMIC_SEQ_CST)) sleep_ms(10);
  native::event_clear(node->event);
}

void* wait_node_event(EventNode* node) { return node->event; }

void wait_node_give(EventNode* node) {
  __atomic_store_n(&node->armed, uint8_t{0}, __ATOMIC_SEQ_CST);
  event_node_give(current_bucket(), node);
}

}  // namespace sm
