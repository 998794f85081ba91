#include "base/glob.h"

#include <gtest/gtest.h>

#include <string>

namespace sm {
namespace {

struct GlobCase {
  const char16_t* pattern;
  const char16_t* text;
  bool match;
  bool match_ascii;
};

TEST(Glob, Table) {
  const GlobCase cases[] = {
      {u"*.txt", u"a.txt", true, true},
      {u"a?c", u"ac", false, false},
      {u"a?c", u"abc", true, true},
      {u"", u"", true, true},
      {u"", u"a", false, false},
      {u"*", u"", true, true},
      {u"*", u"anything", true, true},
      {u"a*b*c", u"axxbyyc", true, true},
      {u"a*b*c", u"axxbyy", false, false},
      {u"*a", u"aaa", true, true},
      {u"MEDIA.EXE.*", u"media.exe.002", false, true},
      {u"?", u"\U0001F600", true, false},  // one code point, two units
      {u"\u00C4*", u"\u00E4x", false, false},  // only ASCII letters fold
      {nullptr, nullptr, true, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GlobMatch(c.pattern, c.text), c.match) << testing::PrintToString(c.pattern);
    EXPECT_EQ(GlobMatchAscii(c.pattern, c.text), c.match_ascii)
        << testing::PrintToString(c.pattern);
  }
}

TEST(Glob, ManyStars) {
  std::u16string pattern(50, u'*');
  EXPECT_TRUE(GlobMatch((pattern + u"*b").c_str(), u"aab"));
  std::u16string many = std::u16string(u"a*") + std::u16string(50, u'*');
  EXPECT_TRUE(GlobMatch((many + u"c").c_str(), u"abc"));
  // Backtracking into every earlier star would take ~10^12 steps here.
  std::u16string text(60, u'a');
  EXPECT_FALSE(GlobMatch(u"*a*a*a*a*a*a*a*a*a*a*a*a*b", text.c_str()));
  EXPECT_TRUE(GlobMatch(u"*a*a*a*a*a*a*a*a*a*a*a*a*", text.c_str()));
}

}  // namespace
}  // namespace sm
