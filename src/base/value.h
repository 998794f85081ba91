// Reading numbers and yes/no words from options, environment variables and
// script words, and writing a value back in the form it was read in.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sm {

// Form flags: what ParseValue read, what FormatValue writes.
inline constexpr uint32_t VALUE_HEX = 0x001;
inline constexpr uint32_t VALUE_NEGATIVE = 0x002;  // '-' read / write as signed
inline constexpr uint32_t VALUE_YES_NO = 0x004;
inline constexpr uint32_t VALUE_TRUE_FALSE = 0x008;
inline constexpr uint32_t VALUE_ON_OFF = 0x010;
inline constexpr uint32_t VALUE_Y_N = 0x020;
inline constexpr uint32_t VALUE_T_F = 0x040;
inline constexpr uint32_t VALUE_ENABLE_DISABLE = 0x080;
inline constexpr uint32_t VALUE_ENABLED_DISABLED = 0x100;
inline constexpr uint32_t VALUE_E_D = 0x200;
inline constexpr uint32_t VALUE_WORDS = 0x3FC;  // every word form

// A word (yes, no, true, off, enabled, y, ...; any case) or a decimal or 0x
// hexadecimal number with an optional sign, between optional white space.
// At most `max_length` units are read (-1: up to the NUL); anything else
// gives 0 with no flags. Numbers wrap in 64 bits.
int64_t ParseValue(const char16_t* text, size_t max_length = static_cast<size_t>(-1),
                   uint32_t* flags = nullptr);

// Writes `value` in the form of `flags` (words for 0 and 1, else a number
// with at least `min_digits` digits, at most 27) with TextCopy. Returns the
// units written.
size_t FormatValue(char16_t* buffer, size_t capacity, int64_t value, uint32_t flags,
                   uint32_t min_digits = 0);

}  // namespace sm
