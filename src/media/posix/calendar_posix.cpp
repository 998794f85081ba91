// The calendar rules of the Windows conversion (proleptic Gregorian, years
// 1601 to 30827, every field in its range), computed here.
#include "media/calendar.h"

namespace sm {

namespace {

bool IsLeapYear(uint32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

uint32_t DaysInMonth(uint32_t year, uint32_t month) {
  static constexpr uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1601-01-01 to the given date.
uint64_t DaysSince1601(uint32_t year, uint32_t month, uint32_t day) {
  // Count from 1 March so that the leap day ends the year.
  uint32_t y = year - (month <= 2 ? 1 : 0);
  uint32_t const m = month <= 2 ? month + 9 : month - 3;  // March = 0
  uint64_t const days_before_year = uint64_t{y} * 365 + y / 4 - y / 100 + y / 400;
  uint64_t const day_of_year = (153 * m + 2) / 5 + day - 1;
  uint64_t const days = days_before_year + day_of_year;  // since 0000-03-01
  // 1601-01-01 counted the same way: year 1600 from March, plus 306 days.
  uint64_t const epoch = uint64_t{1600} * 365 + 1600 / 4 - 1600 / 100 + 1600 / 400 + 306;
  return days - epoch;
}

}  // namespace

uint64_t CalendarToFileTime(const CalendarTime& t) {
  if (t.year < 1601 || t.year > 30827 || t.month < 1 || t.month > 12 || t.day < 1 ||
      t.day > DaysInMonth(t.year, t.month) || t.hour > 23 || t.minute > 59 || t.second > 59 ||
      t.millisecond > 999) {
    return 0;
  }
  uint64_t const seconds = DaysSince1601(t.year, t.month, t.day) * 86400 + uint64_t{t.hour} * 3600 +
                           uint64_t{t.minute} * 60 + t.second;
  return (seconds * 1000 + t.millisecond) * 10000;
}

}  // namespace sm
