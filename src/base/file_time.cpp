#include "base/file_time.h"

namespace sm {

CalendarTime SplitFileTime(uint64_t file_time) {
  CalendarTime t{};
  uint64_t ms = file_time / 10000;
  uint64_t days = ms / 86400000;
  uint32_t of_day = static_cast<uint32_t>(ms % 86400000);
  t.millisecond = of_day % 1000;
  t.second = of_day / 1000 % 60;
  t.minute = of_day / 60000 % 60;
  t.hour = of_day / 3600000;

  // Years start on 1 March so the leap day ends the year; day 0 is 1600-03-01.
  uint64_t day = days + 306;
  uint64_t cycles400 = day / 146097;
  day %= 146097;
  uint64_t centuries = day / 36524;
  if (centuries == 4) centuries = 3;  // the last day of a 400-year cycle
  day -= centuries * 36524;
  uint64_t cycles4 = day / 1461;
  day %= 1461;
  uint64_t years = day / 365;
  if (years == 4) years = 3;  // the leap day of a 4-year cycle
  day -= years * 365;
  uint64_t year = 1600 + cycles400 * 400 + centuries * 100 + cycles4 * 4 + years;

  // Months from March in blocks of 153 days (Mar-Jul, Aug-Dec) and 61 days
  // (Jan-Feb): 31, 30, 31, 30, 31 repeat.
  uint32_t block = static_cast<uint32_t>(day / 153);
  uint32_t in_block = static_cast<uint32_t>(day % 153);
  uint32_t pair = in_block / 61;
  uint32_t in_pair = in_block % 61;
  uint32_t month = block * 5 + pair * 2 + (in_pair >= 31 ? 1 : 0);  // 0 = March
  uint32_t mday = in_pair >= 31 ? in_pair - 31 : in_pair;
  if (month >= 10) {
    month -= 10;
    year++;
  } else {
    month += 2;
  }
  t.year = static_cast<uint32_t>(year);
  t.month = month + 1;
  t.day = mday + 1;
  return t;
}

}  // namespace sm
