// Signal events: flags that call every subscriber once when raised (or
// reset); the table of twelve process signals; waits on signals.
#pragma once

#include <cstdint>

#include "base/hold.h"
#include "base/lock.h"

namespace sm {

struct SignalSubscription;
using SignalCallback = void (*)(SignalSubscription* subscription);

// Provided and owned by the subscriber. A subscriber that unsubscribes while
// its callback may run must wait for the callback to finish before reusing it.
struct SignalSubscription {
  SignalCallback callback;
  // The pointer that points at this subscription; null while not linked.
  SignalSubscription** back;
  SignalSubscription* next;
};

class SignalEvent {
 public:
  constexpr SignalEvent() = default;
  constexpr explicit SignalEvent(bool raised) : raised_(raised ? 1u : 0u) {}

  // Sets the flag and calls every subscriber (oldest first), each taken off
  // the list, on the calling thread outside the event's lock.
  virtual void raise();
  // Clears the flag and, like raise, takes off and calls every subscriber.
  virtual void reset();
  // Links the subscription: 1. When the event is raised already nothing is
  // linked and the result is 0; the subscriber runs its callback itself if it
  // needs the notice.
  virtual int subscribe(SignalCallback callback, SignalSubscription* subscription);
  // 1 when the subscription was linked and is now removed; 0 when it was not
  // linked (never, or taken off by raise or reset).
  virtual int unsubscribe(SignalSubscription* subscription);
  virtual int is_raised();

 protected:
  void Notify(uint32_t raised);

  uint32_t raised_ = 0;
  Lock lock_ = {};
  SignalSubscription* head_ = nullptr;
};

// For subscribers that need the notice either way: subscribes, or runs the
// callback at once when the signal is raised already.
void signal_subscribe_or_run(SignalEvent* signal, SignalCallback callback, SignalSubscription* subscription);
// Takes the subscription off; when a raise or reset took it off first, waits
// (10 ms at a time) until its callback called signal_callback_done.
void signal_unsubscribe_settled(SignalEvent* signal, SignalSubscription* subscription);
// The last step of such a callback: the subscriber may reuse the subscription.
void signal_callback_done(SignalSubscription* subscription);

// Makes the storage of a SignalEvent (zeroed or not) a fresh, unraised one.
void signal_init(SignalEvent* event);

// Process signals, 0 to 11: 0 never raised, 1 interrupt, 3 raised when the
// table is built, 5 thread shutdown begins, 6 all threads joined, 7 process
// exit, 11 always raised; every number above 10 means 11.
SignalEvent* process_signal(uint32_t number);

inline constexpr uint32_t kSignalNever = 0;
inline constexpr uint32_t kSignalInterrupt = 1;
inline constexpr uint32_t kSignalTableBuilt = 3;
inline constexpr uint32_t kSignalThreadShutdown = 5;
inline constexpr uint32_t kSignalThreadsJoined = 6;
inline constexpr uint32_t kSignalProcessExit = 7;
inline constexpr uint32_t kSignalAlways = 11;

// Waits until `signal` is raised (1), or until `limit_ms` passed or only
// `extra` (may be null) was raised (0). Alertable.
int pin_wait(SignalEvent* signal, SignalEvent* extra, uint32_t limit_ms);

// Native wait on signals together with other handles: take a node, arm it on
// a signal (its event is set when the signal is raised, at once when it is
// already), wait on wait_node_event with the other handles, disarm, give back.
struct EventNode;
EventNode* wait_node_take();
void wait_node_arm(EventNode* node, SignalEvent* signal);
void wait_node_disarm(EventNode* node, SignalEvent* signal);
void* wait_node_event(EventNode* node);
void wait_node_give(EventNode* node);

}  // namespace sm
