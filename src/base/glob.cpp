#include "base/glob.h"

namespace sm {

namespace {

constexpr int kMaxRetries = 50;

uint32_t NextCodePoint(const char16_t* text, size_t& pos) {
  return Utf16Decode(text, kWholeText, pos);
}

uint32_t NextAsciiUnit(const char16_t* text, size_t& pos) {
  uint32_t unit = text ? text[pos] : 0;
  if (unit) pos++;
  return unit >= 'a' && unit <= 'z' ? unit - 32 : unit;
}

template <class Next>
bool Match(const char16_t* pattern, const char16_t* text, Next next) {
  struct Retry {
    size_t star;  // position of the '*' in the pattern
    size_t text;  // text position after one more consumed character
  };
  Retry retries[kMaxRetries];
  int depth = 0;
  size_t p_pos = 0;
  size_t t_pos = 0;
  for (;;) {
    size_t p_next = p_pos;
    size_t t_next = t_pos;
    uint32_t p = next(pattern, p_next);
    uint32_t t = next(text, t_next);
    if (p == '*') {
      if (t && depth < kMaxRetries) retries[depth++] = {p_pos, t_next};
      p_pos = p_next;
      continue;
    }
    if (p == 0) {
      if (t == 0) return true;
    } else if (p == t || (p == '?' && t)) {
      p_pos = p_next;
      t_pos = t_next;
      continue;
    }
    if (!depth) return false;
    depth--;
    p_pos = retries[depth].star;
    t_pos = retries[depth].text;
  }
}

}  // namespace

bool GlobMatch(const char16_t* pattern, const char16_t* text) {
  return Match(pattern, text, NextCodePoint);
}

bool GlobMatchAscii(const char16_t* pattern, const char16_t* text) {
  return Match(pattern, text, NextAsciiUnit);
}

}  // namespace sm
