// ParseValue on arbitrary UTF-16, bounded by an explicit length (no NUL
// needed) and by the NUL; what it reads must survive FormatValue and back.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/value.h"

namespace {

void Check(bool condition) {
  if (!condition) abort();
}

void RoundTrip(int64_t value, uint32_t flags) {
  char16_t text[40];
  sm::FormatValue(text, 40, value, flags, 0);
  uint32_t again = 0;
  Check(sm::ParseValue(text, static_cast<size_t>(-1), &again) == value);
  // Words come back as the same word form.
  if (flags & sm::VALUE_WORDS) Check(again == flags);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exactly the input, without a terminator, so any read past the length shows.
  std::vector<char16_t> units(size / 2);
  if (!units.empty()) memcpy(units.data(), data, units.size() * 2);
  uint32_t flags = 0;
  int64_t value = sm::ParseValue(units.data(), units.size(), &flags);
  RoundTrip(value, flags);

  units.push_back(0);
  value = sm::ParseValue(units.data(), static_cast<size_t>(-1), &flags);
  RoundTrip(value, flags);
  return 0;
}
