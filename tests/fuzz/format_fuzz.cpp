// The formatter on fuzzed format strings. The input is mapped onto flags,
// widths, sizes and the conversions that read an int, and at most ten
// directives are kept, so the fixed int arguments below always cover what
// the format reads (and stay small: they may become widths).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/format.h"

namespace {

void Check(bool condition) {
  if (!condition) abort();
}

constexpr char kAlphabet[] = "%%%%-+ #0.*123456789Ihl Ldiuoxc wXCa";
constexpr int kMaxDirectives = 10;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  size_t capacity = data[0] % 24;
  std::string narrow;
  int directives = 0;
  for (size_t i = 1; i < size && i < 200; i++) {
    char c = kAlphabet[data[i] % (sizeof(kAlphabet) - 1)];
    if (c == '%' && ++directives > kMaxDirectives) c = 'a';
    // "ll" and "Ll" would read 64-bit arguments, of which there are none.
    if (c == 'l' && !narrow.empty() && (narrow.back() == 'l' || narrow.back() == 'L')) c = 'd';
    // So would I64; an int read as 64 bits has an unspecified high half.
    if (c == '6' && !narrow.empty() && narrow.back() == 'I') c = '8';
    // Keep widths small enough to format quickly into a pool.
    auto digit = [](char d) { return d >= '0' && d <= '9'; };
    size_t n = narrow.size();
    if (digit(c) && n >= 2 && digit(narrow[n - 1]) && digit(narrow[n - 2])) c = 'x';
    narrow.push_back(c);
  }
  std::u16string wide(narrow.begin(), narrow.end());

#define SM_ARGS 1, -2, 300, -40000, 5, 0xFFFF, -7, 8, 0xE9, 10, 11, -12, 13, 14, 15, \
                16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32
  char16_t buffer[24];
  size_t needed = sm::FormatText(nullptr, 0, wide.c_str(), SM_ARGS);
  Check(sm::FormatText(buffer, capacity, wide.c_str(), SM_ARGS) == needed);
  char narrow_buffer[24];
  size_t narrow_needed = sm::FormatTextNarrow(narrow_buffer, capacity, narrow.c_str(), SM_ARGS);
  if (capacity) {
    size_t n = 0;
    while (n < capacity && buffer[n]) n++;
    Check(n == (needed < capacity ? needed : capacity - 1));
  }
  sm::ScratchPool pool;
  char16_t* text = sm::PoolFormat(&pool, wide.c_str(), SM_ARGS);
  char* text_narrow = sm::PoolFormatNarrow(&pool, narrow.c_str(), SM_ARGS);
  if (text) {
    size_t n = 0;
    while (text[n]) n++;
    Check(n <= needed);  // %c of 0 ends the text early
  }
  (void)text_narrow;
  (void)narrow_needed;
  pool.ReleaseAll();
  return 0;
}
