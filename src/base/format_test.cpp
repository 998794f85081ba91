#include "base/format.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace sm {
namespace {

std::u16string Wide(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  char16_t buffer[256];
  size_t n = FormatTextV(buffer, 256, format, args);
  va_end(args);
  EXPECT_EQ(n, std::u16string(buffer).size()) << "measured length";
  return buffer;
}

std::string Narrow(const char* format, ...) {
  va_list args;
  va_start(args, format);
  char buffer[256];
  size_t n = FormatTextNarrowV(buffer, 256, format, args);
  va_end(args);
  EXPECT_EQ(n, std::string(buffer).size()) << "measured length";
  return buffer;
}

TEST(FormatText, Integers) {
  EXPECT_EQ(Wide(u"%5i", 42), u"   42");
  EXPECT_EQ(Wide(u"%-5i|", 42), u"42   |");
  EXPECT_EQ(Wide(u"%05i", -42), u"-0042");
  EXPECT_EQ(Wide(u"%+i %+i", 7, -7), u"+7 -7");
  EXPECT_EQ(Wide(u"% i", 7), u" 7");
  EXPECT_EQ(Wide(u"%+u|% x|%+o", 5u, 10u, 8u), u"5|a|10");  // signs belong to d and i only
  EXPECT_EQ(Wide(u"%.3i", 7), u"007");
  EXPECT_EQ(Wide(u"%8.3i", 7), u"     007");
  EXPECT_EQ(Wide(u"%08.3i", 7), u"000007");  // zeros replace the precision zeros
  EXPECT_EQ(Wide(u"%-05i|", 3), u"00003|");  // '0' wins over '-'
  EXPECT_EQ(Wide(u"%.0i", 0), u"0");
  EXPECT_EQ(Wide(u"%d", INT32_MIN), u"-2147483648");
  EXPECT_EQ(Wide(u"%u", 0xFFFFFFFFu), u"4294967295");
  EXPECT_EQ(Wide(u"%#x", 255), u"0xff");
  EXPECT_EQ(Wide(u"%#X", 0), u"0X0");
  EXPECT_EQ(Wide(u"%#o", 8), u"010");
  EXPECT_EQ(Wide(u"%#6x|%-#6X|", 10, 10), u"   0xa|0XA   |");
  EXPECT_EQ(Wide(u"%08X", 0xBEEFu), u"0000BEEF");
  EXPECT_EQ(Wide(u"%*i|%-*i|%.*i", 4, 1, 3, 2, 3, 5), u"   1|2  |005");
  EXPECT_EQ(Wide(u"%*i|", -3, 1), u"1  |");  // negative width: left aligned
}

TEST(FormatText, IntegerSizesReadTheirOwnTypes) {
  EXPECT_EQ(Wide(u"%I64i", -1LL), u"-1");
  EXPECT_EQ(Wide(u"%I64u %i", 0xFFFFFFFFFFFFFFFFULL, 5), u"18446744073709551615 5");
  EXPECT_EQ(Wide(u"%lli|%Lli|%llx", INT64_MIN, 1LL, 0x123456789ULL),
            u"-9223372036854775808|1|123456789");
  EXPECT_EQ(Wide(u"%hi", 70000), u"4464");
  EXPECT_EQ(Wide(u"%hi %hu", 0xFFFF, 0xFFFF), u"-1 65535");
  EXPECT_EQ(Wide(u"%I8u %I8i", 257, 255), u"1 -1");
  EXPECT_EQ(Wide(u"%I16x %I32u %li", 0x12345, 7u, 9), u"2345 7 9");
  // %p takes one 32-bit value; a size prefix does not change that.
  EXPECT_EQ(Wide(u"%i%i%i|%p|%P|%I64p|%llX|%i", 1, 2, 3, 0xFFFFFFFFu, 0xabcu, 0x1234u, 1LL, 5),
            u"123|ffffffff|ABC|1234|1|5");
  // I with anything but a size ends the directive; what follows is text.
  EXPECT_EQ(Wide(u"a%Iz%i", 3), u"az3");
}

TEST(FormatText, CharactersAndStrings) {
  EXPECT_EQ(Wide(u"%c%c", u'a', 0x263A), u"a\u263A");
  EXPECT_EQ(Wide(u"%C%hc", 0x1E9, 0xE9), u"\u00E9\u00E9");  // 8-bit: the low byte
  EXPECT_EQ(Wide(u"%I32c", 0x1F600), u"\U0001F600");
  EXPECT_EQ(Wide(u"%I64c%I64c|", 0x41LL, 0x100000041LL), u"A|");
  EXPECT_EQ(Wide(u"%5c|", u'x'), u"x|");  // characters ignore width
  EXPECT_EQ(Narrow("%c", 0xE9), "\xC3\xA9");
  EXPECT_EQ(Narrow("%C%w%lc", 0x20AC, 0x20AC, 0xE9), "\xE2\x82\xAC\xE2\x82\xAC\xC3\xA9");

  EXPECT_EQ(Wide(u"[%s]", static_cast<char16_t*>(nullptr)), u"[]");
  EXPECT_EQ(Wide(u"%5s", u"ab"), u"   ab");
  EXPECT_EQ(Wide(u"%.1s", u"abc"), u"a");
  EXPECT_EQ(Wide(u"%-3s|", u"a"), u"a  |");
  EXPECT_EQ(Wide(u"%8.3s|", u"abcdef"), u"  abcdef|");  // width above precision wins
  EXPECT_EQ(Wide(u"%3.5s|", u"abcdefgh"), u"abcde|");
  EXPECT_EQ(Wide(u"%S", "\xC3\xA9"), u"\u00E9");
  EXPECT_EQ(Wide(u"%hs%ls", "\xE2\x82\xAC", u"\u20AC"), u"\u20AC\u20AC");
  const char16_t lone[] = {'a', 0xD800, 0};
  // Malformed input comes out as the byte 0xFF, respectively U+FFFF.
  EXPECT_EQ(Narrow("%s|%S|%w", "\x80", lone, 0xE9), "\xFF|a\xFF|\xC3\xA9");
  EXPECT_EQ(Wide(u"%S|%s", "\x80", lone), u"\uFFFF|a\uFFFF");
}

TEST(FormatText, GuidsAndTimes) {
  const unsigned char guid[16] = {0x78, 0x56, 0x34, 0x12, 0xBC, 0x9A, 0xF0, 0xDE,
                                  0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  EXPECT_EQ(Wide(u"%r", guid), u"12345678-9abc-def0-0123-456789abcdef");
  EXPECT_EQ(Narrow("%R", guid), "12345678-9ABC-DEF0-0123-456789ABCDEF");
  EXPECT_EQ(Wide(u"%.8r", guid), u"12345678");
  EXPECT_EQ(Wide(u"%T", 0ULL), u"1601-01-01 00:00:00.000");
  EXPECT_EQ(Wide(u"%t", 0LL), u"1970-01-01 00:00:00");
  EXPECT_EQ(Wide(u"%t|%lt", 951825600LL, 951825600), u"2000-02-29 12:00:00|2000-02-29 12:00:00");
  EXPECT_EQ(Wide(u"%I32t", -1), u"1969-12-31 23:59:59");
  EXPECT_EQ(Narrow("%T", 125911584000000000ULL + 1234 * 10000ULL), "2000-01-01 00:00:01.234");
  EXPECT_EQ(Wide(u"%25T|", 0ULL), u"  1601-01-01 00:00:00.000|");
}

TEST(FormatText, CountsTruncatesAndStops) {
  char16_t buffer[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
  EXPECT_EQ(FormatText(buffer, 4, u"hello"), 5u);
  EXPECT_EQ(std::u16string(buffer), u"hel");
  EXPECT_EQ(buffer[4], u'x');
  EXPECT_EQ(FormatText(nullptr, 0, u"%i-%s", 123, u"ab"), 6u);
  EXPECT_EQ(FormatText(buffer, 0, u"abc"), 3u);
  EXPECT_EQ(buffer[0], u'h');
  EXPECT_EQ(FormatText(buffer, 8, u"%1000000000i", 1), 1000000000u);  // counted, not written
  EXPECT_EQ(std::u16string(buffer), u"       ");
  char narrow[3];
  EXPECT_EQ(FormatTextNarrow(narrow, 3, "a%c", 0xE9), 3u);  // a character may be cut
  EXPECT_EQ(std::string(narrow), "a\xC3");

  EXPECT_EQ(Wide(u"100%%"), u"100%");
  EXPECT_EQ(Wide(u"abc%"), u"abc");
  EXPECT_EQ(Wide(u"abc%-08.3"), u"abc");
  EXPECT_EQ(Wide(u"abc%I6"), u"abc6");
  EXPECT_EQ(Wide(u"a%qb"), u"ab");  // unknown conversion writes nothing

  int count = -1;
  long long wide_count = -1;
  short short_count = -1;
  EXPECT_EQ(Wide(u"ab%ncd%I64n%hne", &count, &wide_count, &short_count), u"abcde");
  EXPECT_EQ(count, 2);
  EXPECT_EQ(wide_count, 4);
  EXPECT_EQ(short_count, 4);
}

TEST(FormatText, PoolAndHeapVariants) {
  ScratchPool pool;
  EXPECT_EQ(std::u16string(PoolFormat(&pool, u"%s=%i", u"x", 5)), u"x=5");
  EXPECT_EQ(std::string(PoolFormatNarrow(&pool, "%s-%S", "a", u"\u00E9")), "a-\xC3\xA9");
  std::u16string long_text(150, u'z');
  // Results of 100 units or more are formatted a second time into their block.
  EXPECT_EQ(std::u16string(PoolFormat(&pool, u"%s%i", long_text.c_str(), 42)), long_text + u"42");
  EXPECT_EQ(std::u16string(PoolFormat(&pool, u"%99s", u"a")), std::u16string(98, u' ') + u"a");
  EXPECT_EQ(std::string(PoolFormatNarrow(&pool, "%200i", 1)).size(), 200u);
  EXPECT_EQ(pool.failures.load(), 0u);
  pool.ReleaseAll();

  char16_t* heap = HeapFormat(u"%s%I64i", long_text.c_str(), -1LL);
  ASSERT_NE(heap, nullptr);
  EXPECT_EQ(std::u16string(heap), long_text + u"-1");
  free(heap);
}

}  // namespace
}  // namespace sm
