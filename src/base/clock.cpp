#include "base/clock.h"

#include "base/lock.h"
#include "base/native_sync.h"

namespace sm {

uint64_t monotonic_ms() { return native::monotonic_ms(); }

void sleep_ms(int64_t ms) { native::delay(ms); }

uint64_t system_time() { return native::system_time(); }

uint64_t widen_tick_count(uint64_t* base, TickSource read_tick) {
  constexpr uint32_t kHalf = 0x80000000u;
  for (;;) {
    // The base must be read before the tick: a tick read later can only be
    // in the same half as the base or in the next one.
    const uint64_t seen = __atomic_load_n(base, __ATOMIC_SEQ_CST);
    const uint32_t tick = read_tick();
    if (((tick ^ static_cast<uint32_t>(seen)) & kHalf) == 0) return seen | (tick & (kHalf - 1));
    keyed_lock(base);
    if (__atomic_load_n(base, __ATOMIC_SEQ_CST) == seen) __atomic_store_n(base, seen + kHalf, __ATOMIC_SEQ_CST);
    keyed_unlock(base);
  }
}

}  // namespace sm
