// Conversions between UTF-8, UTF-16 and the code page on arbitrary bytes:
// no read or write outside the buffers, measuring agrees with converting,
// and whole-character truncation keeps a terminated prefix.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/codepage.h"
#include "base/glob.h"
#include "base/text.h"
#include "base/utf.h"

namespace {

void Check(bool condition) {
  if (!condition) abort();
}

// Runs one conversion measured, at full size and at a cut capacity.
template <class Out, class In, class Convert>
std::vector<Out> Exercise(Convert convert, const In* source, size_t length, size_t cut) {
  size_t needed = convert(nullptr, 0, source, length);
  std::vector<Out> full(needed + 1, Out(0x55));
  Check(convert(full.data(), full.size(), source, length) == needed);
  Check(full[needed] == 0);
  for (size_t i = 0; i < needed; i++) Check(full[i] != 0);

  std::vector<Out> part(cut ? cut : 1, Out(0x55));
  Check(convert(part.data(), cut, source, length) == needed);
  if (cut) {
    size_t n = 0;
    while (n < cut && part[n]) n++;
    Check(n < cut);
    // What fits is a prefix of the full result.
    Check(std::equal(part.begin(), part.begin() + n, full.begin()));
  } else {
    Check(part[0] == Out(0x55));
  }
  full.resize(needed);
  return full;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  size_t cut = data[0] % 16;
  data++, size--;

  const char* bytes = reinterpret_cast<const char*>(data);
  std::vector<char16_t> units(size / 2);
  if (!units.empty()) memcpy(units.data(), data, units.size() * 2);

  auto wide = Exercise<char16_t>(sm::Utf8ToWide, bytes, size, cut);
  Exercise<char16_t>(sm::AnsiToWide, bytes, size, cut);
  Exercise<char>(sm::AnsiToUtf8, bytes, size, cut);
  auto utf8 = Exercise<char>(sm::WideToUtf8, units.data(), units.size(), cut);
  Exercise<char>(sm::WideToAnsi, units.data(), units.size(), cut);

  // UTF-16 back and forth is exact when the UTF-16 is well formed.
  bool well_formed = true;
  size_t length = 0;
  for (size_t pos = 0; pos < units.size() && units[pos];) {
    well_formed &= sm::Utf16Decode(units.data(), units.size(), pos) != sm::INVALID_CODE_POINT;
    length = pos;
  }
  if (well_formed) {
    auto back = Exercise<char16_t>(sm::Utf8ToWide, utf8.data(), utf8.size(), cut);
    Check(back.size() == length);
    Check(std::equal(back.begin(), back.end(), units.begin()));
  }

  // Comparisons agree with themselves reversed.
  std::vector<char16_t> left(wide.begin(), wide.begin() + wide.size() / 2);
  std::vector<char16_t> right(wide.begin() + wide.size() / 2, wide.end());
  left.push_back(0), right.push_back(0);
  Check(sm::TextCompareFold(left.data(), right.data()) ==
        -sm::TextCompareFold(right.data(), left.data()));
  Check(sm::TextCompare(bytes, size, bytes, size) == 0);
  if (left.size() < 64 && right.size() < 64) {
    sm::GlobMatch(left.data(), right.data());
    sm::GlobMatchAscii(left.data(), right.data());
  }
  return 0;
}
