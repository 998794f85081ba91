#include "base/value.h"

#include <gtest/gtest.h>

#include <string>

namespace sm {
namespace {

struct ParseCase {
  const char16_t* text;
  int64_t value;
  uint32_t flags;
  const char16_t* formatted;  // FormatValue with the reported flags
};

TEST(ParseValue, WordsNumbersAndRoundTrips) {
  const ParseCase cases[] = {
      {u"Yes", 1, VALUE_YES_NO, u"yes"},
      {u"n", 0, VALUE_Y_N, u"n"},
      {u"  Y\t", 1, VALUE_Y_N, u"y"},
      {u"no", 0, VALUE_YES_NO, u"no"},
      {u"TRUE", 1, VALUE_TRUE_FALSE, u"true"},
      {u"t", 1, VALUE_T_F, u"t"},
      {u"False", 0, VALUE_TRUE_FALSE, u"false"},
      {u"f", 0, VALUE_T_F, u"f"},
      {u"On", 1, VALUE_ON_OFF, u"on"},
      {u"one", 1, VALUE_ON_OFF, u"on"},
      {u"Off", 0, VALUE_ON_OFF, u"off"},
      {u"e", 1, VALUE_E_D, u"e"},
      {u"enabledX", 1, VALUE_ENABLED_DISABLED, u"enabled"},
      {u"Enable", 1, VALUE_ENABLE_DISABLE, u"enable"},
      {u"d", 0, VALUE_E_D, u"d"},
      {u"disabled", 0, VALUE_ENABLED_DISABLED, u"disabled"},
      {u"disable", 0, VALUE_ENABLE_DISABLE, u"disable"},
      {u"-0x10", -16, VALUE_HEX | VALUE_NEGATIVE, u"0xFFFFFFFFFFFFFFF0"},
      {u"0x1f", 31, VALUE_HEX, u"0x1F"},
      {u"0X1F ", 31, VALUE_HEX, u"0x1F"},
      {u"0x", 0, 0, u"0"},  // no hex digit: decimal, which stops at x
      {u"12abc", 12, 0, u"12"},
      {u"-5", -5, VALUE_NEGATIVE, u"-5"},
      {u"+7", 7, 0, u"7"},
      {u"  ", 0, 0, u"0"},
      {u"", 0, 0, u"0"},
      {nullptr, 0, 0, u"0"},
      {u"yeah", 0, 0, u"0"},  // neither y alone nor yes: a number without digits
      {u"ox", 0, 0, u"0"},
      {u"18446744073709551617", 1, 0, u"1"},  // wraps in 64 bits
      {u"\f1", 0, 0, u"0"},                  // form feed is not white space
  };
  for (const auto& c : cases) {
    uint32_t flags = 0xDEAD;
    EXPECT_EQ(ParseValue(c.text, static_cast<size_t>(-1), &flags), c.value)
        << testing::PrintToString(c.text);
    EXPECT_EQ(flags, c.flags) << testing::PrintToString(c.text);
    char16_t buffer[32];
    FormatValue(buffer, 32, c.value, flags);
    EXPECT_EQ(std::u16string(buffer), c.formatted) << testing::PrintToString(c.text);
  }
}

TEST(ParseValue, MaximumLengthLimitsEverything) {
  uint32_t flags = 0;
  EXPECT_EQ(ParseValue(u"123", 2, &flags), 12);
  EXPECT_EQ(ParseValue(u"yes", 1, &flags), 1);
  EXPECT_EQ(flags, VALUE_Y_N);
  // The word must lie within the given length: "ye" is no word.
  EXPECT_EQ(ParseValue(u"yes", 2, &flags), 0);
  EXPECT_EQ(flags, 0u);
  EXPECT_EQ(ParseValue(u"0x1", 2), 0);
  EXPECT_EQ(ParseValue(u"7"), 7);
}

TEST(FormatValue, NumbersAndWords) {
  char16_t buffer[40];
  struct Case {
    int64_t value;
    uint32_t flags;
    uint32_t digits;
    const char16_t* text;
  } const cases[] = {
      {5, VALUE_YES_NO, 0, u"5"},
      {0, VALUE_HEX, 4, u"0x0000"},
      {-3, VALUE_NEGATIVE, 0, u"-3"},
      {-3, 0, 0, u"18446744073709551613"},
      {-3, VALUE_NEGATIVE, 4, u"-0003"},
      {1, 0, 3, u"001"},
      {1, VALUE_HEX, 0, u"0x1"},
      {1, VALUE_YES_NO | VALUE_ON_OFF, 0, u"on"},
      {0, VALUE_YES_NO | VALUE_ON_OFF, 0, u"no"},
      {1, VALUE_ENABLED_DISABLED | VALUE_ENABLE_DISABLE, 0, u"enable"},
      {255, VALUE_HEX, 1, u"0xFF"},
      {7, 0, 100, u"000000000000000000000000007"},  // at most 27 digits
      {INT64_MIN, VALUE_NEGATIVE, 0, u"-9223372036854775808"},
  };
  for (const auto& c : cases) {
    FormatValue(buffer, 40, c.value, c.flags, c.digits);
    EXPECT_EQ(std::u16string(buffer), c.text) << c.value << " " << c.flags;
  }
  EXPECT_EQ(FormatValue(buffer, 3, 12345, 0), 2u);
  EXPECT_EQ(std::u16string(buffer), u"12");
}

}  // namespace
}  // namespace sm
