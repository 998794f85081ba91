// Time: a monotonic millisecond clock, a millisecond sleep and the system time.
#pragma once

#include <cstdint>

namespace sm {

// Milliseconds since system start; never goes back.
uint64_t monotonic_ms();

// Sleeps `ms` milliseconds (alertable where the platform has alerts); a
// negative value sleeps without end.
void sleep_ms(int64_t ms);

// The current time as a file time: 100-nanosecond intervals since
// 1601-01-01 UTC.
uint64_t system_time();

// Widens a 32-bit millisecond tick count that wraps every 49.7 days to 64
// bits. `*base` keeps the high part with its low 31 bits always 0; it must be
// shared by every reader and start at 0. Correct as long as the clock is read
// at least once every 24.8 days. This is the clock on systems whose only tick
// count is 32 bits wide.
using TickSource = uint32_t (*)();
uint64_t widen_tick_count(uint64_t* base, TickSource read_tick);

}  // namespace sm
