#include "base/file_time.h"

#include <gtest/gtest.h>

namespace sm {
namespace {

constexpr uint64_t kDay = 864000000000ull;  // 100 ns units

TEST(SplitFileTime, CalendarFields) {
  struct Case {
    uint64_t file_time;
    CalendarTime expected;
  };
  // Days from 1601-01-01 checked against the Gregorian calendar.
  const Case cases[] = {
      {0, {1601, 1, 1, 0, 0, 0, 0}},
      {kDay * 145790 + 12 * 36000000000ull, {2000, 2, 29, 12, 0, 0, 0}},
      {kDay * 145791, {2000, 3, 1, 0, 0, 0, 0}},
      {kDay * 109572 - 1, {1900, 12, 31, 23, 59, 59, 999}},
      {kDay * 109207, {1900, 1, 1, 0, 0, 0, 0}},
      {kDay * 109266, {1900, 3, 1, 0, 0, 0, 0}},  // 1900 is not a leap year
      {116444736000000000ull + 12345678, {1970, 1, 1, 0, 0, 1, 234}},
      {kDay * 146097 - 1, {2000, 12, 31, 23, 59, 59, 999}},
      {0x7FFFFFFFFFFFFFFFull, {30828, 9, 14, 2, 48, 5, 477}},  // the largest Windows converts
  };
  for (const auto& c : cases) {
    CalendarTime t = SplitFileTime(c.file_time);
    EXPECT_EQ(t.year, c.expected.year) << c.file_time;
    EXPECT_EQ(t.month, c.expected.month) << c.file_time;
    EXPECT_EQ(t.day, c.expected.day) << c.file_time;
    EXPECT_EQ(t.hour, c.expected.hour) << c.file_time;
    EXPECT_EQ(t.minute, c.expected.minute) << c.file_time;
    EXPECT_EQ(t.second, c.expected.second) << c.file_time;
    EXPECT_EQ(t.millisecond, c.expected.millisecond) << c.file_time;
  }
}

}  // namespace
}  // namespace sm
