#include "base/text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "base/fold_case.h"

namespace sm {
namespace {

TEST(Text, LengthsAndNullAsEmpty) {
  EXPECT_EQ(TextLen(static_cast<const char*>(nullptr)), 0u);
  EXPECT_EQ(TextLen(u"abc"), 3u);
  EXPECT_EQ(TextLenMax("abcdef", 4), 4u);
  EXPECT_EQ(TextLenMax(u"ab", 4), 2u);
  EXPECT_TRUE(TextIsEmpty(static_cast<const char16_t*>(nullptr)));
  EXPECT_TRUE(TextIsEmpty(""));
  EXPECT_FALSE(TextIsEmpty(u"x"));
  EXPECT_STREQ(TextOrEmpty(static_cast<const char*>(nullptr)), "");
}

TEST(Text, MoveHandlesOverlapAndNullSource) {
  char16_t buffer[8] = u"abcdef";
  TextMove(buffer + 1, buffer, 4);  // source below destination: copies backwards
  EXPECT_EQ(std::u16string(buffer), u"aabcdf");
  TextMove(buffer, buffer + 2, 3);
  EXPECT_EQ(std::u16string(buffer), u"bcdcdf");
  TextMove(buffer + 1, static_cast<const char16_t*>(nullptr), 2);
  EXPECT_EQ(buffer[0], u'b');
  EXPECT_EQ(buffer[1], 0);
  EXPECT_EQ(buffer[3], u'c');
  TextMove(static_cast<char16_t*>(nullptr), u"x", 1);  // does nothing
}

TEST(Text, CopyAndCatStayWithinCapacity) {
  char16_t buffer[6];
  EXPECT_EQ(TextCopy(buffer, 6, u"abcdefgh"), 5u);
  EXPECT_EQ(std::u16string(buffer), u"abcde");
  EXPECT_EQ(TextCopy(buffer, 6, u"abcdefgh", 2), 2u);
  EXPECT_EQ(std::u16string(buffer), u"ab");
  EXPECT_EQ(TextCat(buffer, 6, u"xyz", 2), 4u);
  EXPECT_EQ(std::u16string(buffer), u"abxy");
  EXPECT_EQ(TextCat(buffer, 6, u"123"), 5u);
  EXPECT_EQ(std::u16string(buffer), u"abxy1");
  buffer[0] = 'q';
  EXPECT_EQ(TextCopy(buffer, 0, u"z"), 0u);  // capacity 0 writes nothing
  EXPECT_EQ(buffer[0], u'q');
  char narrow[4];
  EXPECT_EQ(TextCopy(narrow, 4, static_cast<const char*>(nullptr)), 0u);
  EXPECT_STREQ(narrow, "");

  char16_t secret[] = u"pw";
  EXPECT_EQ(TextWipe(secret), 2u);
  EXPECT_EQ(secret[0], 0);
  EXPECT_EQ(secret[1], 0);
}

TEST(Text, AllocAndDuplicates) {
  EXPECT_EQ(TextAlloc(0), nullptr);
  char16_t* text = TextAlloc(5);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text[0], 0);
  EXPECT_EQ(text[4], 0);
  free(text);

  ScratchPool pool;
  EXPECT_STREQ(PoolDup(&pool, "hello", 3), "hel");
  EXPECT_EQ(std::u16string(PoolDup(&pool, static_cast<const char16_t*>(nullptr))), u"");
  EXPECT_EQ(std::u16string(PoolDupUtf8(&pool, "h\xC3\xA9")), u"h\u00E9");
  // Long texts take the second pass into an exact allocation.
  std::string long_text(250, 'x');
  EXPECT_EQ(std::u16string(PoolDupUtf8(&pool, long_text.c_str())),
            std::u16string(250, u'x'));
  EXPECT_EQ(pool.failures.load(), 0u);
  pool.ReleaseAll();

  EXPECT_EQ(HeapDup(nullptr), nullptr);
  char16_t* copy = HeapDup(u"abc", 2);
  EXPECT_EQ(std::u16string(copy), u"ab");
  free(copy);
  for (const std::string& source : {std::string("\xC3\xA9"), long_text}) {
    char16_t* wide = HeapDupUtf8(source.c_str());
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(TextLen(wide), source == long_text ? 250u : 1u);
    free(wide);
  }
}

TEST(Text, FindCharacters) {
  const char16_t* text = u"a\\b\\c";
  EXPECT_EQ(TextFindChar(text, u'\\'), text + 1);
  EXPECT_EQ(TextFindLastChar(text, u'\\'), text + 3);
  EXPECT_EQ(TextFindChar(text, u'x'), nullptr);
  EXPECT_EQ(TextFindLastChar(text, u'x'), nullptr);
  EXPECT_EQ(TextFindChar(static_cast<const char16_t*>(nullptr), u'x'), nullptr);
  // A surrogate unit inside a valid pair is not a character of its own.
  const char16_t* emoji = u"\U0001F600";
  EXPECT_EQ(TextFindChar(emoji, static_cast<char16_t>(0xDE00)), nullptr);
  EXPECT_EQ(TextFindLastChar(emoji, static_cast<char16_t>(0xDE00)), emoji + 1);
}

TEST(Text, EnvFind) {
  const char16_t* list[] = {u"PATH=C:\\x", u"=C:=C:\\", u"NOVALUE", u"Path=second", nullptr};
  EXPECT_EQ(std::u16string(EnvFind(list, u"path")), u"C:\\x");
  EXPECT_EQ(std::u16string(EnvFind(list, u"=C:")), u"C:\\");
  EXPECT_EQ(std::u16string(EnvFind(list, u"novalue")), u"");
  EXPECT_EQ(EnvFind(list, u"PAT"), nullptr);
  EXPECT_EQ(EnvFind(list, u""), nullptr);
  EXPECT_EQ(EnvFind(nullptr, u"PATH"), nullptr);
}

struct CompareCase {
  const char16_t* a;
  const char16_t* b;
  int plain, ascii, fold;
};

TEST(Text, ComparisonsWide) {
  const CompareCase cases[] = {
      {u"ab", u"abc", -1, -1, -1},
      {nullptr, u"", 0, 0, 0},
      {u"File", u"FILE", 1, 0, 0},
      {u"\u00C4", u"\u00E4", -1, -1, 0},  // only FoldCase folds beyond ASCII
      {u"_", u"a", -1, 1, -1},            // '_' lies between 'A'-'Z' and 'a'-'z'
      {u"\U0001F600", u"\uFFFF", 1, -1, 1},  // code points vs units
      {u"\U00010400", u"\U00010428", -1, -1, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TextCompare(c.a, c.b), c.plain);
    EXPECT_EQ(TextCompare(c.b, c.a), -c.plain);
    EXPECT_EQ(TextCompareAscii(c.a, c.b), c.ascii);
    EXPECT_EQ(TextCompareFold(c.a, c.b), c.fold);
  }
  EXPECT_EQ(TextCompare(u"abX", 2, u"abY", 2), 0);
  const char16_t lone[] = {0xD800, 0};
  EXPECT_EQ(TextCompare(lone, u"\U0010FFFF"), 1);  // invalid sorts above everything
}

TEST(Text, ComparisonsNarrow) {
  EXPECT_EQ(TextCompare("ab", "abc"), -1);
  EXPECT_EQ(TextCompare("\xC3\xA9", kWholeText, "\xEF\xBF\xBF", kWholeText), -1);
  EXPECT_EQ(TextCompare("\x80", kWholeText, "\xF4\x8F\xBF\xBF", kWholeText), 1);
  EXPECT_EQ(TextCompareAscii("File", "fILE"), 0);
  EXPECT_EQ(TextCompareAscii("\xC3\x84", kWholeText, "\xC3\xA4", kWholeText), -1);
  EXPECT_EQ(TextCompareFold("\xC3\x84", kWholeText, "\xC3\xA4", kWholeText), 0);
  EXPECT_EQ(TextCompareFold("abc", 2, "AB", kWholeText), 0);
}

TEST(Text, StartsWithAscii) {
  EXPECT_EQ(TextStartsWithAscii(u"Enabled", u"enable"), 0);
  EXPECT_NE(TextStartsWithAscii(u"en", u"enable"), 0);
  EXPECT_EQ(TextStartsWithAscii(u"x", u""), 0);
}

TEST(Text, CharacterClasses) {
  for (char16_t c : u"\t\n\v\r ") {
    if (c) {
      EXPECT_TRUE(IsSpaceChar(c)) << int(c);
    }
  }
  EXPECT_FALSE(IsSpaceChar('\f'));
  EXPECT_FALSE(IsSpaceChar(0xA0));
  EXPECT_TRUE(IsHexDigitChar('f'));
  EXPECT_TRUE(IsHexDigitChar('F'));
  EXPECT_FALSE(IsHexDigitChar('g'));
  EXPECT_TRUE(IsAsciiAlnum('z'));
  EXPECT_FALSE(IsAsciiAlnum(0xE9));
  EXPECT_FALSE(IsAsciiAlnum('_'));
  EXPECT_EQ(AsciiToLower('Q'), uint32_t('q'));
  EXPECT_EQ(AsciiToLower(0xC4), 0xC4u);
}

TEST(FoldCase, SimpleFoldingOfUnicode5) {
  const std::pair<uint32_t, uint32_t> cases[] = {
      {'A', 'a'},         {'a', 'a'},         {0xB5, 0x3BC},      {0x17F, 's'},
      {0x1F88, 0x1F80},   {0x130, 0x130},     {0x131, 0x131},     {0xC0, 0xE0},
      {0x3A3, 0x3C3},     {0x10A0, 0x2D00},   {0xFF21, 0xFF41},   {0x10400, 0x10428},
      {0x10427, 0x1044F}, {0x10428, 0x10428}, {0x1E9E, 0x1E9E},   // capital sharp s came in 5.1
      {0xFFFF, 0xFFFF},   {0x10FFFF, 0x10FFFF}, {INVALID_CODE_POINT, INVALID_CODE_POINT},
      {0, 0},
  };
  for (const auto& [code_point, folded] : cases) {
    EXPECT_EQ(FoldCase(code_point), folded) << std::hex << code_point;
  }
}

}  // namespace
}  // namespace sm
