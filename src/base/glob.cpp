#include "base/glob.h"

namespace sm {

namespace {

uint32_t NextCodePoint(const char16_t* text, size_t& pos) {
  return Utf16Decode(text, kWholeText, pos);
}

uint32_t NextAsciiUnit(const char16_t* text, size_t& pos) {
  uint32_t unit = text ? text[pos] : 0;
  if (unit) pos++;
  return unit >= 'a' && unit <= 'z' ? unit - 32 : unit;
}

// Only the newest '*' keeps a retry point. Whatever an earlier star could
// consume by backtracking, the newest one can consume too, arriving at the
// rest of the pattern with as much text or less; retrying earlier stars can
// only repeat failures, and made matching exponential in the number of stars.
template <class Next>
bool Match(const char16_t* pattern, const char16_t* text, Next next) {
  bool has_retry = false;
  size_t retry_star = 0;  // position of that '*' in the pattern
  size_t retry_text = 0;  // text position after one more consumed character
  size_t p_pos = 0;
  size_t t_pos = 0;
  for (;;) {
    size_t p_next = p_pos;
    size_t t_next = t_pos;
    uint32_t p = next(pattern, p_next);
    uint32_t t = next(text, t_next);
    if (p == '*') {
      has_retry = t != 0;
      retry_star = p_pos;
      retry_text = t_next;
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
    if (!has_retry) return false;
    p_pos = retry_star;
    t_pos = retry_text;
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
