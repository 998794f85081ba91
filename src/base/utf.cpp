#include "base/utf.h"

#include "base/utf_convert.h"

namespace sm {

uint32_t Utf8Decode(const char* text, size_t length, size_t& pos) {
  if (!text || pos >= length) return 0;
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  uint32_t lead = s[pos];
  if (lead < 0x80) {
    // The terminator needs no length check: it is a one-unit character.
    pos++;
    return lead;
  }
  size_t extra;
  uint32_t value;
  if (lead >= 0xC0 && lead <= 0xDF) {
    extra = 1;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2;
    value = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF7) {
    extra = 3;
    value = lead & 0x07;
  } else {
    pos++;
    return INVALID_CODE_POINT;
  }
  // Each continuation byte is checked before the next is read, so a NUL
  // inside a cut sequence stops the scan without reading past it.
  for (size_t i = 1; i <= extra; i++) {
    if (length - pos <= i || (s[pos + i] & 0xC0) != 0x80) {
      pos++;
      return INVALID_CODE_POINT;
    }
    value = value << 6 | (s[pos + i] & 0x3F);
  }
  pos += extra + 1;
  return value;
}

uint32_t Utf16Decode(const char16_t* text, size_t length, size_t& pos) {
  if (!text || pos >= length) return 0;
  uint32_t unit = text[pos];
  if (unit < 0xD800 || unit > 0xDFFF) {
    pos++;
    return unit;
  }
  if (unit <= 0xDBFF && length - pos > 1) {
    uint32_t low = text[pos + 1];
    if (low >= 0xDC00 && low <= 0xDFFF) {
      pos += 2;
      return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
  }
  pos++;
  return INVALID_CODE_POINT;
}

void Utf8Encode(char* buffer, size_t capacity, size_t& pos, uint32_t code_point) {
  unsigned char bytes[6];
  size_t count;
  if (code_point < 0x80) {
    bytes[0] = static_cast<unsigned char>(code_point);
    count = 1;
  } else if (code_point > 0x7FFFFFFE) {
    bytes[0] = 0xFF;
    count = 1;
  } else {
    uint32_t lead;
    if (code_point < 0x800) {
      count = 2, lead = 0xC0;
    } else if (code_point < 0x10000) {
      count = 3, lead = 0xE0;
    } else if (code_point < 0x200000) {
      count = 4, lead = 0xF0;
    } else if (code_point < 0x4000000) {
      count = 5, lead = 0xF8;
    } else {
      count = 6, lead = 0xFC;
    }
    for (size_t i = count - 1; i > 0; i--) {
      bytes[i] = static_cast<unsigned char>(0x80 | (code_point & 0x3F));
      code_point >>= 6;
    }
    bytes[0] = static_cast<unsigned char>(lead | code_point);
  }
  for (size_t i = 0; i < count; i++, pos++) {
    if (buffer && pos < capacity) buffer[pos] = static_cast<char>(bytes[i]);
  }
}

void Utf16Encode(char16_t* buffer, size_t capacity, size_t& pos, uint32_t code_point) {
  char16_t units[2];
  size_t count = 1;
  if (code_point <= 0xFFFF) {
    units[0] = static_cast<char16_t>(code_point);
  } else if (code_point <= 0x10FFFF) {
    code_point -= 0x10000;
    units[0] = static_cast<char16_t>(0xD800 + (code_point >> 10));
    units[1] = static_cast<char16_t>(0xDC00 + (code_point & 0x3FF));
    count = 2;
  } else {
    units[0] = 0xFFFF;
  }
  for (size_t i = 0; i < count; i++, pos++) {
    if (buffer && pos < capacity) buffer[pos] = units[i];
  }
}

size_t Utf8ToWide(char16_t* dest, size_t capacity, const char* source, size_t length) {
  return ConvertText(dest, capacity, [&](size_t& pos) { return Utf8Decode(source, length, pos); },
                     Utf16Encode);
}

size_t WideToUtf8(char* dest, size_t capacity, const char16_t* source, size_t length) {
  return ConvertText(dest, capacity, [&](size_t& pos) { return Utf16Decode(source, length, pos); },
                     Utf8Encode);
}

}  // namespace sm
