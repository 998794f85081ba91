// The POSIX build's system code page: Windows-1252, fixed. Like the Windows
// table, the five unassigned bytes 81, 8D, 8F, 90 and 9D map to the C1
// controls of the same value, so every byte converts.
#include "base/codepage_backend.h"

namespace sm {

namespace {

constexpr char16_t kHighHalf[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

uint32_t AnsiDecodeChar(const char* text, size_t length, size_t& pos) {
  if (pos >= length) return 0;
  auto byte = static_cast<unsigned char>(text[pos++]);
  return byte >= 0x80 && byte < 0xA0 ? kHighHalf[byte - 0x80] : byte;
}

size_t AnsiEncodeChar(uint32_t code_point, char (&out)[kMaxAnsiBytes]) {
  out[0] = 0x7F;
  if (code_point < 0x80 || (code_point >= 0xA0 && code_point <= 0xFF)) {
    out[0] = static_cast<char>(code_point);
  }
  for (unsigned i = 0; i < 32; i++) {
    if (kHighHalf[i] == code_point) out[0] = static_cast<char>(0x80 + i);
  }
  return 1;
}

}  // namespace sm
