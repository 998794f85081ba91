#include "media/calendar.h"

namespace sm {

uint64_t CalendarToUtcFileTime(const CalendarTime& time, int32_t offset_minutes) {
  uint64_t const local = CalendarToFileTime(time);
  if (local == 0 || local == ~uint64_t{0}) return local;
  int64_t const shift = int64_t{offset_minutes} * 60 * 10000000;
  // A time before 1601 in UTC cannot be represented: count it as unrecorded
  // rather than wrapping to a date in the far future.
  if (shift > 0 && local <= static_cast<uint64_t>(shift)) return 0;
  return local - static_cast<uint64_t>(shift);
}

}  // namespace sm
