#include "base/format.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/file_time.h"
#include "base/text.h"
#include "base/utf.h"

namespace sm {

namespace {

// Output of one formatting run: stores what fits before the last unit and
// counts everything.
template <class Unit>
struct Sink {
  Unit* buffer;
  size_t room;  // units that may hold text (capacity - 1)
  size_t count = 0;

  void PutUnit(Unit unit) {
    if (count < room) buffer[count] = unit;
    count++;
  }
  // Repeats cost nothing beyond the stored part, so a huge width only counts.
  void PutRepeated(Unit unit, size_t n) {
    for (size_t i = count; i < room && i - count < n; i++) buffer[i] = unit;
    count += n;
  }
  void PutCodePoint(uint32_t code_point) {
    if constexpr (sizeof(Unit) == 2) {
      Utf16Encode(buffer, room, count, code_point);
    } else {
      Utf8Encode(buffer, room, count, code_point);
    }
  }
};

enum Flag : unsigned {
  kLeft = 1,
  kPlus = 2,
  kSpace = 4,
  kPrefix = 8,
  kZero = 16,
};

struct Directive {
  unsigned flags = 0;
  size_t width = 0;
  size_t precision = 0;
  bool has_precision = false;
  unsigned int_size = 0;   // 0: not set (read as 32)
  unsigned char_size = 0;  // 0: the conversion's default
};

// A source text for string output: narrow UTF-8 or wide UTF-16.
struct Source {
  const char* narrow = nullptr;
  const char16_t* wide = nullptr;

  size_t Length() const { return narrow ? TextLen(narrow) : TextLen(wide); }
  uint32_t Next(size_t& pos) const {
    return narrow ? Utf8Decode(narrow, kWholeText, pos) : Utf16Decode(wide, kWholeText, pos);
  }
};

constexpr size_t kMaxField = 0x7FFFFFFF;

template <class Unit>
void PutString(Sink<Unit>& out, const Directive& d, Source source) {
  size_t length = source.Length();
  size_t limit = d.has_precision ? d.precision : length;
  if (d.width > limit) limit = d.width;
  size_t padding = d.width > length ? d.width - length : 0;
  size_t written = 0;
  if (!(d.flags & kLeft)) {
    out.PutRepeated(' ', padding);
    written = padding;
  }
  size_t pos = 0;
  while (written < limit) {
    uint32_t c = source.Next(pos);
    if (!c) break;
    out.PutCodePoint(c);
    written++;
  }
  if (d.flags & kLeft && written < limit) {
    size_t rest = limit - written;
    out.PutRepeated(' ', padding < rest ? padding : rest);
  }
}

// The sign of a signed conversion: '-' for a negative value (which the
// caller negates), else what the '+' or space flag asks for. Unsigned
// conversions have none.
char SignOf(const Directive& d, bool negative) {
  if (negative) return '-';
  if (d.flags & kPlus) return '+';
  if (d.flags & kSpace) return ' ';
  return 0;
}

template <class Unit>
void PutInteger(Sink<Unit>& out, const Directive& d, uint64_t value, char sign, unsigned base,
                bool upper) {
  const char* digit_set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char digits[64];
  size_t n = 0;
  do {
    digits[n++] = digit_set[value % base];
    value /= base;
  } while (value);

  const char* prefix = "";
  if (d.flags & kPrefix) {
    if (base == 8) prefix = "0";
    if (base == 16) prefix = upper ? "0X" : "0x";
  }
  size_t prefix_length = strlen(prefix);
  size_t zeros = d.precision > n ? d.precision - n : 0;
  size_t used = (sign ? 1 : 0) + (n > d.precision ? n : d.precision) + prefix_length;
  size_t padding = d.width > used ? d.width - used : 0;
  if (d.flags & kZero) {
    if (padding > zeros) zeros = padding;
    padding = 0;
  }
  if (!(d.flags & kLeft)) out.PutRepeated(' ', padding);
  if (sign) out.PutUnit(static_cast<Unit>(sign));
  for (const char* p = prefix; *p; p++) out.PutUnit(static_cast<Unit>(*p));
  out.PutRepeated('0', zeros);
  while (n) out.PutUnit(static_cast<Unit>(digits[--n]));
  if (d.flags & kLeft) out.PutRepeated(' ', padding);
}

void AppendHex(char*& p, uint64_t value, int digits, const char* digit_set) {
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) *p++ = digit_set[value >> shift & 15];
}

void AppendDecimal(char*& p, uint32_t value, int digits) {
  char reversed[10];
  int n = 0;
  do {
    reversed[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value);
  for (int i = n; i < digits; i++) *p++ = '0';
  while (n) *p++ = reversed[--n];
}

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" of a GUID as laid out in memory.
void GuidText(char* p, const void* guid, bool upper) {
  if (!guid) {
    *p = 0;
    return;
  }
  struct {
    uint32_t data1;
    uint16_t data2, data3;
    uint8_t data4[8];
  } g;
  static_assert(sizeof(g) == 16);
  memcpy(&g, guid, 16);
  const char* digit_set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  AppendHex(p, g.data1, 8, digit_set);
  *p++ = '-';
  AppendHex(p, g.data2, 4, digit_set);
  *p++ = '-';
  AppendHex(p, g.data3, 4, digit_set);
  *p++ = '-';
  for (int i = 0; i < 8; i++) {
    if (i == 2) *p++ = '-';
    AppendHex(p, g.data4[i], 2, digit_set);
  }
  *p = 0;
}

// "YYYY-MM-DD hh:mm:ss" and, with milliseconds, ".mmm".
void TimeText(char* p, uint64_t file_time, bool milliseconds) {
  CalendarTime t = SplitFileTime(file_time);
  AppendDecimal(p, t.year, 4);
  *p++ = '-';
  AppendDecimal(p, t.month, 2);
  *p++ = '-';
  AppendDecimal(p, t.day, 2);
  *p++ = ' ';
  AppendDecimal(p, t.hour, 2);
  *p++ = ':';
  AppendDecimal(p, t.minute, 2);
  *p++ = ':';
  AppendDecimal(p, t.second, 2);
  if (milliseconds) {
    *p++ = '.';
    AppendDecimal(p, t.millisecond, 3);
  }
  *p = 0;
}

// Reads an integer argument of the directive's size as its own C type.
uint64_t ReadInteger(va_list* args, unsigned int_size, bool is_signed) {
  if (int_size == 64) return static_cast<uint64_t>(va_arg(*args, long long));
  int raw = va_arg(*args, int);
  switch (int_size) {
    case 8:
      return is_signed ? static_cast<uint64_t>(static_cast<int8_t>(raw))
                       : static_cast<uint8_t>(raw);
    case 16:
      return is_signed ? static_cast<uint64_t>(static_cast<int16_t>(raw))
                       : static_cast<uint16_t>(raw);
    default:
      return is_signed ? static_cast<uint64_t>(static_cast<int64_t>(raw))
                       : static_cast<unsigned>(raw);
  }
}

// Decimal digits of a width or precision, saturated so no count overflows.
template <class Unit>
size_t ReadNumber(const Unit*& p) {
  size_t value = 0;
  while (*p >= '0' && *p <= '9') {
    value = value * 10 + static_cast<size_t>(*p - '0');
    if (value > kMaxField) value = kMaxField;
    p++;
  }
  return value;
}

template <class Unit>
size_t Format(Unit* buffer, size_t capacity, const Unit* format, va_list* args) {
  Sink<Unit> out{buffer, buffer && capacity ? capacity - 1 : 0};
  constexpr bool kWide = sizeof(Unit) == 2;
  static constexpr Unit kEmpty[1] = {0};
  const Unit* p = format ? format : kEmpty;
  while (*p) {
    if (*p != '%') {
      out.PutUnit(*p++);
      continue;
    }
    p++;
    if (*p == '%') {
      out.PutUnit(*p++);
      continue;
    }
    Directive d;
    for (;; p++) {
      if (*p == '-') {
        d.flags |= kLeft;
      } else if (*p == '+') {
        d.flags |= kPlus;
      } else if (*p == ' ') {
        d.flags |= kSpace;
      } else if (*p == '#') {
        d.flags |= kPrefix;
      } else if (*p == '0') {
        d.flags |= kZero;
      } else {
        break;
      }
    }
    if (*p == '*') {
      p++;
      int width = va_arg(*args, int);
      // A negative width from an argument means left alignment, as in C.
      if (width < 0) {
        d.flags |= kLeft;
        width = width == INT32_MIN ? INT32_MAX : -width;
      }
      d.width = static_cast<size_t>(width);
    } else {
      d.width = ReadNumber(p);
    }
    if (*p == '.') {
      p++;
      d.has_precision = true;
      if (*p == '*') {
        p++;
        int precision = va_arg(*args, int);
        // A negative precision from an argument counts as none, as in C.
        d.precision = precision < 0 ? 0 : static_cast<size_t>(precision);
        d.has_precision = precision >= 0;
      } else {
        d.precision = ReadNumber(p);
      }
    }
    if (*p == 'I') {
      p++;
      if (p[0] == '8') {
        d.int_size = d.char_size = 8;
        p += 1;
      } else if (p[0] == '1' && p[1] == '6') {
        d.int_size = d.char_size = 16;
        p += 2;
      } else if (p[0] == '3' && p[1] == '2') {
        d.int_size = d.char_size = 32;
        p += 2;
      } else if (p[0] == '6' && p[1] == '4') {
        d.int_size = 64;
        p += 2;
      } else {
        continue;  // the units after the I are ordinary text
      }
    } else if (*p == 'h') {
      p++;
      d.int_size = 16;
      d.char_size = 8;
    } else if (*p == 'l' || *p == 'L') {
      p++;
      if (*p == 'l') {
        p++;
        d.int_size = 64;
      } else {
        d.int_size = 32;
        d.char_size = 16;
      }
    }
    if (!*p) break;  // the format ends inside the directive
    Unit conversion = *p++;
    switch (conversion) {
      case 'd':
      case 'i': {
        // Smaller sizes arrive sign-extended, so one test serves them all.
        uint64_t value = ReadInteger(args, d.int_size, true);
        bool negative = static_cast<int64_t>(value) < 0;
        PutInteger(out, d, negative ? 0 - value : value, SignOf(d, negative), 10, false);
        break;
      }
      case 'u':
        PutInteger(out, d, ReadInteger(args, d.int_size, false), 0, 10, false);
        break;
      case 'o':
        PutInteger(out, d, ReadInteger(args, d.int_size, false), 0, 8, false);
        break;
      case 'x':
      case 'X':
        PutInteger(out, d, ReadInteger(args, d.int_size, false), 0, 16, conversion == 'X');
        break;
      case 'p':
      case 'P':
        // One 32-bit value whatever the size prefix says: callers pass
        // 32-bit handles and addresses.
        PutInteger(out, d, va_arg(*args, unsigned), 0, 16, conversion == 'P');
        break;
      case 'c':
      case 'w':
      case 'C': {
        unsigned size = d.char_size;
        if (!size) {
          if (d.int_size == 64) {
            size = 64;  // keeps a 64-bit argument in step (%I64c, %llc)
          } else if (conversion == 'w') {
            size = 16;
          } else {
            size = (conversion == 'c') == kWide ? 16 : 8;
          }
        }
        uint32_t code_point;
        if (size == 64) {
          uint64_t value = static_cast<uint64_t>(va_arg(*args, long long));
          if (value >> 32) break;
          code_point = static_cast<uint32_t>(value);
        } else {
          code_point = static_cast<uint32_t>(va_arg(*args, int));
          if (size == 8) code_point &= 0xFF;
          if (size == 16) code_point &= 0xFFFF;
        }
        out.PutCodePoint(code_point);
        break;
      }
      case 's':
      case 'S': {
        unsigned size = d.char_size;
        if (!size) size = (conversion == 's') == kWide ? 16 : 8;
        Source source;
        if (size == 8) {
          source.narrow = TextOrEmpty(va_arg(*args, const char*));
        } else {
          source.wide = TextOrEmpty(va_arg(*args, const char16_t*));
        }
        PutString(out, d, source);
        break;
      }
      case 'r':
      case 'R': {
        char text[40];
        GuidText(text, va_arg(*args, const void*), conversion == 'R');
        PutString(out, d, Source{text});
        break;
      }
      case 'T':
      case 't': {
        uint64_t file_time;
        if (conversion == 'T') {
          file_time = static_cast<uint64_t>(va_arg(*args, long long));
        } else {
          int64_t seconds = d.int_size && d.int_size <= 32
                                ? va_arg(*args, int)
                                : va_arg(*args, long long);
          file_time = (static_cast<uint64_t>(seconds) + 11644473600ull) * 10000000ull;
        }
        char text[40];
        TimeText(text, file_time, conversion == 'T');
        PutString(out, d, Source{text});
        break;
      }
      case 'n': {
        void* target = va_arg(*args, void*);
        if (!target) break;
        switch (d.int_size) {
          case 8:
            *static_cast<signed char*>(target) = static_cast<signed char>(out.count);
            break;
          case 16:
            *static_cast<short*>(target) = static_cast<short>(out.count);
            break;
          case 64:
            *static_cast<long long*>(target) = static_cast<long long>(static_cast<uint32_t>(out.count));
            break;
          default:
            *static_cast<int*>(target) = static_cast<int>(out.count);
            break;
        }
        break;
      }
      default:
        break;  // not a conversion: the directive writes nothing
    }
  }
  if (buffer && capacity) buffer[out.count < out.room ? out.count : out.room] = 0;
  return out.count;
}

template <class Unit>
Unit* FormatAllocated(const Unit* format, va_list args, Unit* (*allocate)(void*, size_t),
                      void* context) {
  va_list again;
  va_copy(again, args);
  Unit local[100];
  va_list first;
  va_copy(first, args);
  size_t needed = Format(local, 100, format, &first);
  va_end(first);
  Unit* text = needed < SIZE_MAX / sizeof(Unit) ? allocate(context, needed + 1) : nullptr;
  if (text) {
    if (needed < 100) {
      memcpy(text, local, (needed + 1) * sizeof(Unit));
    } else {
      Format(text, needed + 1, format, &again);
    }
  }
  va_end(again);
  return text;
}

template <class Unit>
Unit* PoolAllocate(void* pool, size_t units) {
  return static_cast<Unit*>(static_cast<ScratchPool*>(pool)->Alloc(units * sizeof(Unit)));
}

char16_t* HeapAllocate(void*, size_t units) {
  return static_cast<char16_t*>(malloc(units * sizeof(char16_t)));
}

}  // namespace

size_t FormatTextV(char16_t* buffer, size_t capacity, const char16_t* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  size_t n = Format(buffer, capacity, format, &copy);
  va_end(copy);
  return n;
}

size_t FormatText(char16_t* buffer, size_t capacity, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  size_t n = Format(buffer, capacity, format, &args);
  va_end(args);
  return n;
}

size_t FormatTextNarrowV(char* buffer, size_t capacity, const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  size_t n = Format(buffer, capacity, format, &copy);
  va_end(copy);
  return n;
}

size_t FormatTextNarrow(char* buffer, size_t capacity, const char* format, ...) {
  va_list args;
  va_start(args, format);
  size_t n = Format(buffer, capacity, format, &args);
  va_end(args);
  return n;
}

char16_t* PoolFormatV(ScratchPool* pool, const char16_t* format, va_list args) {
  return FormatAllocated(format, args, PoolAllocate<char16_t>, pool);
}

char16_t* PoolFormat(ScratchPool* pool, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  char16_t* text = PoolFormatV(pool, format, args);
  va_end(args);
  return text;
}

char* PoolFormatNarrowV(ScratchPool* pool, const char* format, va_list args) {
  return FormatAllocated(format, args, PoolAllocate<char>, pool);
}

char* PoolFormatNarrow(ScratchPool* pool, const char* format, ...) {
  va_list args;
  va_start(args, format);
  char* text = PoolFormatNarrowV(pool, format, args);
  va_end(args);
  return text;
}

char16_t* HeapFormatV(const char16_t* format, va_list args) {
  return FormatAllocated(format, args, HeapAllocate, nullptr);
}

char16_t* HeapFormat(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  char16_t* text = HeapFormatV(format, args);
  va_end(args);
  return text;
}

}  // namespace sm
