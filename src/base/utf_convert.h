// The shared loop behind every buffer conversion (UTF-8, UTF-16, code page).
#pragma once

#include <cstddef>
#include <cstdint>

namespace sm {

// decode(pos) returns the next code point (0 ends the source);
// encode(buffer, capacity, pos, code_point) stores what fits and always
// advances. Whole characters only, always terminated when capacity > 0.
template <class Unit, class Decode, class Encode>
size_t ConvertText(Unit* dest, size_t capacity, Decode decode, Encode encode) {
  if (!dest) capacity = 0;
  // Characters must fit before the last unit, which holds the terminator.
  const size_t room = capacity ? capacity - 1 : 0;
  size_t in = 0;
  size_t needed = 0;
  size_t written = 0;
  bool full = false;
  for (;;) {
    uint32_t code_point = decode(in);
    if (code_point == 0) break;
    size_t start = needed;
    encode(static_cast<Unit*>(nullptr), 0, needed, code_point);
    if (!full && needed <= room) {
      encode(dest, room, start, code_point);
      written = needed;
    } else {
      full = true;
    }
  }
  if (capacity) dest[written] = 0;
  return needed;
}

}  // namespace sm
