// Calendar fields of a file time (100 ns units since 1601-01-01 UTC).
#pragma once

#include <cstdint>

namespace sm {

struct CalendarTime {
  uint32_t year;
  uint32_t month;  // 1-12
  uint32_t day;    // 1-31
  uint32_t hour;
  uint32_t minute;
  uint32_t second;
  uint32_t millisecond;
};

// Proleptic Gregorian calendar in UTC; no time zone is applied.
CalendarTime SplitFileTime(uint64_t file_time);

}  // namespace sm
