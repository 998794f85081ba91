#include "base/utf.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sm {
namespace {

struct DecodeCase {
  std::string bytes;
  size_t length;
  uint32_t code_point;
  size_t advance;
};

TEST(Utf8, DecodeWellFormedAndMalformed) {
  const DecodeCase cases[] = {
      {"A", 1, 'A', 1},
      {"\xC3\xA9", 2, 0xE9, 2},
      {"\xE2\x82\xAC", 3, 0x20AC, 3},
      {"\xF0\x9F\x98\x80", 4, 0x1F600, 4},
      {"\xF7\xBF\xBF\xBF", 4, 0x1FFFFF, 4},  // beyond Unicode, still decoded
      {"\xC0\x80", 2, 0, 2},                 // overlong forms decode as they are
      {"\xED\xA0\x80", 3, 0xD800, 3},        // so do encoded surrogates
      {"\x80", 1, INVALID_CODE_POINT, 1},    // stray continuation byte
      {"\xF8\x88\x80\x80\x80", 5, INVALID_CODE_POINT, 1},
      {"\xFF", 1, INVALID_CODE_POINT, 1},
      {"\xE2\x82", 2, INVALID_CODE_POINT, 1},          // cut by the length
      {"\xE2\x82\xAC", 2, INVALID_CODE_POINT, 1},      // cut by an explicit length
      {"\xC3" "A", 2, INVALID_CODE_POINT, 1},          // missing continuation
      {std::string("\xE2\0\xAC", 3), kWholeText, INVALID_CODE_POINT, 1},  // NUL inside
  };
  for (const auto& c : cases) {
    size_t pos = 0;
    EXPECT_EQ(Utf8Decode(c.bytes.data(), c.length, pos), c.code_point) << testing::PrintToString(c.bytes);
    EXPECT_EQ(pos, c.advance) << testing::PrintToString(c.bytes);
  }
  size_t pos = 1;
  EXPECT_EQ(Utf8Decode("A", 1, pos), 0u);  // at the end: 0, position kept
  EXPECT_EQ(pos, 1u);
}

TEST(Utf8, EncodeFormsAndMeasuring) {
  const std::pair<uint32_t, std::string> cases[] = {
      {0x41, "A"},
      {0x7FF, "\xDF\xBF"},
      {0xFFFF, "\xEF\xBF\xBF"},
      {0x1F600, "\xF0\x9F\x98\x80"},
      {0x200000, "\xF8\x88\x80\x80\x80"},
      {0x7FFFFFFE, "\xFD\xBF\xBF\xBF\xBF\xBE"},
      {0x7FFFFFFF, "\xFF"},
      {INVALID_CODE_POINT, "\xFF"},
  };
  for (const auto& [code_point, bytes] : cases) {
    char buffer[8] = {};
    size_t pos = 0;
    Utf8Encode(buffer, sizeof(buffer), pos, code_point);
    EXPECT_EQ(std::string(buffer, pos), bytes) << code_point;
  }
  // Only the bytes below the capacity are stored; the position still advances fully.
  char small[2] = {'x', 'x'};
  size_t pos = 0;
  Utf8Encode(small, 1, pos, 0x20AC);
  EXPECT_EQ(pos, 3u);
  EXPECT_EQ(small[0], '\xE2');
  EXPECT_EQ(small[1], 'x');
}

TEST(Utf16, DecodeAndEncode) {
  const char16_t pair[] = {0xD83D, 0xDE00, 0};
  size_t pos = 0;
  EXPECT_EQ(Utf16Decode(pair, 2, pos), 0x1F600u);
  EXPECT_EQ(pos, 2u);
  pos = 0;
  EXPECT_EQ(Utf16Decode(pair, 1, pos), INVALID_CODE_POINT);  // pair cut by the length
  EXPECT_EQ(pos, 1u);
  const char16_t lone_low[] = {0xDE00, 'a', 0};
  pos = 0;
  EXPECT_EQ(Utf16Decode(lone_low, kWholeText, pos), INVALID_CODE_POINT);
  EXPECT_EQ(pos, 1u);
  const char16_t high_then_text[] = {0xD83D, 'a', 0};
  pos = 0;
  EXPECT_EQ(Utf16Decode(high_then_text, kWholeText, pos), INVALID_CODE_POINT);
  EXPECT_EQ(Utf16Decode(high_then_text, kWholeText, pos), u'a');

  char16_t out[3] = {};
  pos = 0;
  Utf16Encode(out, 3, pos, 0x10FFFF);
  EXPECT_EQ(pos, 2u);
  EXPECT_EQ(out[0], 0xDBFF);
  EXPECT_EQ(out[1], 0xDFFF);
  pos = 0;
  Utf16Encode(out, 3, pos, 0x110000);
  EXPECT_EQ(pos, 1u);
  EXPECT_EQ(out[0], 0xFFFF);
  pos = 0;
  Utf16Encode(out, 1, pos, 0x1F600);  // second unit does not fit
  EXPECT_EQ(pos, 2u);
  EXPECT_EQ(out[0], 0xD83D);
  EXPECT_EQ(out[1], 0xDFFF);
}

TEST(Utf8ToWide, WholeCharactersOnlyAndExactMeasure) {
  const char* emoji = "\xF0\x9F\x98\x80";
  char16_t out[8];
  EXPECT_EQ(Utf8ToWide(out, 8, emoji, kWholeText), 2u);
  EXPECT_EQ(std::u16string(out), std::u16string(u"\U0001F600"));
  // Capacity 2 leaves one unit for characters: the pair does not fit.
  out[0] = 'x';
  EXPECT_EQ(Utf8ToWide(out, 2, emoji, kWholeText), 2u);
  EXPECT_EQ(out[0], 0);
  // A later character that would fit is not stored after one that did not.
  EXPECT_EQ(Utf8ToWide(out, 2, "\xF0\x9F\x98\x80" "a", kWholeText), 3u);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(Utf8ToWide(out, 3, "ab\xC3\xA9", kWholeText), 3u);
  EXPECT_EQ(std::u16string(out), u"ab");
  // Measure only, stop at the length or the first NUL, malformed input as U+FFFF.
  EXPECT_EQ(Utf8ToWide(nullptr, 0, "abc", kWholeText), 3u);
  EXPECT_EQ(Utf8ToWide(out, 0, "abc", kWholeText), 3u);
  EXPECT_EQ(Utf8ToWide(out, 8, "abc", 2), 2u);
  EXPECT_EQ(Utf8ToWide(out, 8, nullptr, kWholeText), 0u);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(Utf8ToWide(out, 8, std::string("a\0b", 3).c_str(), 3), 1u);
  EXPECT_EQ(Utf8ToWide(out, 8, "\x80z", kWholeText), 2u);
  EXPECT_EQ(std::u16string(out), u"\uFFFFz");
}

TEST(WideToUtf8, EncodesEveryCharacterAndMalformedAsFF) {
  char out[16];
  EXPECT_EQ(WideToUtf8(out, 16, u"\u00E9\U0001F600", kWholeText), 6u);
  EXPECT_EQ(std::string(out), "\xC3\xA9\xF0\x9F\x98\x80");
  const char16_t lone[] = {'a', 0xD800, 'b', 0};
  EXPECT_EQ(WideToUtf8(out, 16, lone, kWholeText), 3u);
  EXPECT_EQ(std::string(out), "a\xFF" "b");
  EXPECT_EQ(WideToUtf8(out, 3, u"\u00E9\u00E9", kWholeText), 4u);
  EXPECT_EQ(std::string(out), "\xC3\xA9");
}

}  // namespace
}  // namespace sm
