#include "base/codepage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "base/utf.h"

namespace sm {
namespace {

// Both builds run with code page 1252 (fixed on POSIX, Wine's default).

TEST(CodePage, AnsiToUnicode) {
  char16_t wide[8];
  EXPECT_EQ(AnsiToWide(wide, 8, "a\xE9\x80", kWholeText), 3u);
  EXPECT_EQ(std::u16string(wide), u"a\u00E9\u20AC");
  EXPECT_EQ(AnsiToWide(wide, 3, "a\xE9\x80", kWholeText), 3u);
  EXPECT_EQ(std::u16string(wide), u"a\u00E9");
  EXPECT_EQ(AnsiToWide(nullptr, 0, "abc", 2), 2u);
  char utf8[8];
  EXPECT_EQ(AnsiToUtf8(utf8, 8, "\xE9\x80", kWholeText), 5u);
  EXPECT_EQ(std::string(utf8), "\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(AnsiToUtf8(utf8, 4, "\xE9\x80", kWholeText), 5u);
  EXPECT_EQ(std::string(utf8), "\xC3\xA9");

  char16_t* dup = HeapDupAnsi("\x80x");
  ASSERT_NE(dup, nullptr);
  EXPECT_EQ(std::u16string(dup), u"\u20ACx");
  free(dup);
}

TEST(CodePage, WideToAnsiMarksMissingCharacters) {
  char out[8];
  EXPECT_EQ(WideToAnsi(out, 8, u"a\u00E9\u20AC", kWholeText), 3u);
  EXPECT_EQ(std::string(out), "a\xE9\x80");
  // Not in the code page (no best-fit 'A' for A-macron), beyond U+FFFF, a lone surrogate.
  const char16_t missing[] = {0x0100, 0xD83D, 0xDE00, 0xD800, 'z', 0};
  EXPECT_EQ(WideToAnsi(out, 8, missing, kWholeText), 4u);
  EXPECT_EQ(std::string(out), "\x7F\x7F\x7Fz");
  EXPECT_EQ(WideToAnsi(out, 2, u"ab", kWholeText), 2u);
  EXPECT_EQ(std::string(out), "a");
}

}  // namespace
}  // namespace sm
