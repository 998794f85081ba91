// UTF-8 and UTF-16 codecs and the buffer conversions between them.
//
// Decoders never fail: malformed input yields INVALID_CODE_POINT and moves on
// by one unit. Encoders always advance by the full length of the form and
// store only the units that fit, so a first pass can measure.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sm {

inline constexpr uint32_t INVALID_CODE_POINT = 0xFFFFFFFF;

// A length of kWholeText means: up to the terminating NUL.
inline constexpr size_t kWholeText = static_cast<size_t>(-1);

// Code point at `pos` (0 at or past `length`, with `pos` unchanged).
uint32_t Utf8Decode(const char* text, size_t length, size_t& pos);
uint32_t Utf16Decode(const char16_t* text, size_t length, size_t& pos);

// Encodes `code_point` at `pos`, storing only units below `capacity`.
void Utf8Encode(char* buffer, size_t capacity, size_t& pos, uint32_t code_point);
void Utf16Encode(char16_t* buffer, size_t capacity, size_t& pos, uint32_t code_point);

// Buffer conversions: convert the source up to its length or first NUL
// character and return the destination units the whole result needs, without
// the terminator. The destination gets only whole characters that fit before
// its last unit and is always terminated when its capacity is above 0; a null
// destination or capacity 0 only measures.
size_t Utf8ToWide(char16_t* dest, size_t capacity, const char* source, size_t length);
size_t WideToUtf8(char* dest, size_t capacity, const char16_t* source, size_t length);

}  // namespace sm
