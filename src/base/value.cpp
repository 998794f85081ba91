#include "base/value.h"

#include "base/text.h"

namespace sm {

namespace {

struct Word {
  const char16_t* text;
  uint32_t flag;
};

// Whether text[start, end) begins with `word`, ASCII letters in any case.
bool BeginsWith(const char16_t* text, size_t start, size_t end, const char16_t* word) {
  size_t n = TextLen(word);
  return end - start >= n && TextCompareAscii(text + start, n, word, n) == 0;
}

uint32_t DigitValue(char16_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

}  // namespace

int64_t ParseValue(const char16_t* text, size_t max_length, uint32_t* flags) {
  size_t end = TextLenMax(text, max_length);
  size_t start = 0;
  while (start < end && IsSpaceChar(text[start])) start++;
  size_t trimmed = end;
  while (trimmed > start && IsSpaceChar(text[trimmed - 1])) trimmed--;

  uint64_t value = 0;
  uint32_t form = 0;
  if (start < trimmed) {
    bool single = trimmed - start == 1;
    // Words are recognised by their beginning, within the text's length.
    auto begins = [&](const char16_t* word) { return BeginsWith(text, start, end, word); };
    bool is_word = true;
    switch (AsciiToLower(text[start])) {
      case 'y':
        if (single) value = 1, form = VALUE_Y_N;
        else if (begins(u"yes")) value = 1, form = VALUE_YES_NO;
        else is_word = false;
        break;
      case 'n':
        if (single) form = VALUE_Y_N;
        else if (begins(u"no")) form = VALUE_YES_NO;
        else is_word = false;
        break;
      case 't':
        if (single) value = 1, form = VALUE_T_F;
        else if (begins(u"true")) value = 1, form = VALUE_TRUE_FALSE;
        else is_word = false;
        break;
      case 'f':
        if (single) form = VALUE_T_F;
        else if (begins(u"false")) form = VALUE_TRUE_FALSE;
        else is_word = false;
        break;
      case 'o':
        if (begins(u"on")) value = 1, form = VALUE_ON_OFF;
        else if (begins(u"off")) form = VALUE_ON_OFF;
        else is_word = false;
        break;
      case 'e':
        if (single) value = 1, form = VALUE_E_D;
        else if (begins(u"enabled")) value = 1, form = VALUE_ENABLED_DISABLED;
        else if (begins(u"enable")) value = 1, form = VALUE_ENABLE_DISABLE;
        else is_word = false;
        break;
      case 'd':
        if (single) form = VALUE_E_D;
        else if (begins(u"disabled")) form = VALUE_ENABLED_DISABLED;
        else if (begins(u"disable")) form = VALUE_ENABLE_DISABLE;
        else is_word = false;
        break;
      default:
        is_word = false;
        break;
    }
    if (!is_word) {
      size_t pos = start;
      if (text[pos] == '-') {
        form |= VALUE_NEGATIVE;
        pos++;
      } else if (text[pos] == '+') {
        pos++;
      }
      uint32_t base = 10;
      if (trimmed - pos >= 3 && text[pos] == '0' && (text[pos + 1] == 'x' || text[pos + 1] == 'X') &&
          IsHexDigitChar(text[pos + 2])) {
        form |= VALUE_HEX;
        base = 16;
        pos += 2;
      }
      for (; pos < trimmed; pos++) {
        uint32_t digit = DigitValue(text[pos]);
        if (digit >= base) break;
        value = value * base + digit;
      }
      if (form & VALUE_NEGATIVE) value = 0 - value;
    }
  }
  if (flags) *flags = form;
  return static_cast<int64_t>(value);
}

size_t FormatValue(char16_t* buffer, size_t capacity, int64_t value, uint32_t flags,
                   uint32_t min_digits) {
  static const Word kOne[] = {
      {u"y", VALUE_Y_N},         {u"true", VALUE_TRUE_FALSE},
      {u"t", VALUE_T_F},         {u"on", VALUE_ON_OFF},
      {u"enable", VALUE_ENABLE_DISABLE}, {u"enabled", VALUE_ENABLED_DISABLED},
      {u"e", VALUE_E_D},         {u"yes", VALUE_WORDS},
  };
  static const Word kZero[] = {
      {u"no", VALUE_YES_NO},     {u"n", VALUE_Y_N},
      {u"false", VALUE_TRUE_FALSE}, {u"f", VALUE_T_F},
      {u"off", VALUE_ON_OFF},    {u"disable", VALUE_ENABLE_DISABLE},
      {u"disabled", VALUE_ENABLED_DISABLED}, {u"d", VALUE_E_D},
  };
  if (flags & VALUE_WORDS && (value == 0 || value == 1)) {
    for (const Word& word : value ? kOne : kZero) {
      if (flags & word.flag) return TextCopy(buffer, capacity, word.text);
    }
  }
  if (min_digits > 27) min_digits = 27;
  // Sign, prefix and up to 27 digits.
  char16_t text[32];
  size_t n = 0;
  uint64_t magnitude = static_cast<uint64_t>(value);
  uint32_t base = 10;
  if (flags & VALUE_HEX) {
    text[n++] = '0';
    text[n++] = 'x';
    base = 16;
  } else if (flags & VALUE_NEGATIVE && value < 0) {
    text[n++] = '-';
    magnitude = 0 - magnitude;
  }
  char16_t digits[27];
  uint32_t count = 0;
  do {
    digits[count++] = u"0123456789ABCDEF"[magnitude % base];
    magnitude /= base;
  } while (magnitude);
  for (uint32_t i = count; i < min_digits; i++) text[n++] = '0';
  while (count) text[n++] = digits[--count];
  text[n] = 0;
  return TextCopy(buffer, capacity, text);
}

}  // namespace sm
