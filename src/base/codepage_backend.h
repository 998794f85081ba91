// One character of the system code page at a time; each platform supplies
// these two, and base/codepage.cpp builds the buffer conversions on them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sm {

inline constexpr size_t kMaxAnsiBytes = 6;

// Next character of `text` (its length already limited to the first NUL)
// as a code point; 0 at the end. A character that does not convert is
// U+FFFF and moves on one byte; a lead byte without its second byte is
// U+FFFF and ends the text.
uint32_t AnsiDecodeChar(const char* text, size_t length, size_t& pos);

// The exact code page bytes of one code point, or the single byte 0x7F.
size_t AnsiEncodeChar(uint32_t code_point, char (&out)[kMaxAnsiBytes]);

}  // namespace sm
