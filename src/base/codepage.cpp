#include "base/codepage.h"

#include "base/codepage_backend.h"
#include "base/text.h"
#include "base/utf_convert.h"

namespace sm {

size_t AnsiToWide(char16_t* dest, size_t capacity, const char* source, size_t length) {
  length = TextLenMax(source, length);
  return ConvertText(dest, capacity,
                     [&](size_t& pos) { return AnsiDecodeChar(source, length, pos); },
                     Utf16Encode);
}

size_t AnsiToUtf8(char* dest, size_t capacity, const char* source, size_t length) {
  length = TextLenMax(source, length);
  return ConvertText(dest, capacity,
                     [&](size_t& pos) { return AnsiDecodeChar(source, length, pos); },
                     Utf8Encode);
}

size_t WideToAnsi(char* dest, size_t capacity, const char16_t* source, size_t length) {
  // The shared loop encodes each character twice (measure, then store);
  // remember the last one so the code page is asked once.
  uint32_t cached = 0;
  char bytes[kMaxAnsiBytes];
  size_t count = 0;
  return ConvertText(
      dest, capacity, [&](size_t& pos) { return Utf16Decode(source, length, pos); },
      [&](char* buffer, size_t room, size_t& pos, uint32_t code_point) {
        if (code_point != cached || !count) {
          count = AnsiEncodeChar(code_point, bytes);
          cached = code_point;
        }
        for (size_t i = 0; i < count; i++, pos++) {
          if (buffer && pos < room) buffer[pos] = bytes[i];
        }
      });
}

}  // namespace sm
