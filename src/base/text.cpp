#include "base/text.h"

#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "base/codepage.h"
#include "base/fold_case.h"

namespace sm {

namespace {

template <class Unit>
size_t LenMax(const Unit* text, size_t max) {
  size_t n = 0;
  if (text) {
    while (n < max && text[n]) n++;
  }
  return n;
}

template <class Unit>
void Move(Unit* dest, const Unit* source, size_t count) {
  if (!dest || !count) return;
  if (!source) {
    memset(dest, 0, count * sizeof(Unit));
  } else {
    memmove(dest, source, count * sizeof(Unit));
  }
}

template <class Unit>
size_t Copy(Unit* dest, size_t capacity, const Unit* source, size_t length) {
  if (!dest || !capacity) return 0;
  size_t n = LenMax(source, length < capacity - 1 ? length : capacity - 1);
  Move(dest, source, n);
  dest[n] = 0;
  return n;
}

template <class Unit>
Unit* HeapCopy(const Unit* source, size_t length) {
  size_t n = LenMax(source, length);
  auto* copy = static_cast<Unit*>(malloc((n + 1) * sizeof(Unit)));
  if (copy) {
    Move(copy, source, n);
    copy[n] = 0;
  }
  return copy;
}

template <class Unit>
Unit* PoolCopy(ScratchPool* pool, const Unit* source, size_t length) {
  size_t n = LenMax(source, length);
  if (n >= SIZE_MAX / sizeof(Unit)) return nullptr;
  auto* copy = static_cast<Unit*>(pool->Alloc((n + 1) * sizeof(Unit)));
  if (copy) Move(copy, source, n);  // the pool zero-fills the terminator
  return copy;
}

// Readers that yield 0 at the end of a text (its length or its NUL).
struct Utf8Reader {
  const char* text;
  size_t length;
  size_t pos = 0;
  uint32_t Next() { return Utf8Decode(text, length, pos); }
};
struct Utf16Reader {
  const char16_t* text;
  size_t length;
  size_t pos = 0;
  uint32_t Next() { return Utf16Decode(text, length, pos); }
};
template <class Unit>
struct UnitReader {
  const Unit* text;
  size_t length;
  size_t pos = 0;
  uint32_t Next() {
    if (!text || pos >= length || !text[pos]) return 0;
    using Unsigned = std::make_unsigned_t<Unit>;
    return static_cast<Unsigned>(text[pos++]);
  }
};

uint32_t AsciiToUpper(uint32_t unit) { return unit >= 'a' && unit <= 'z' ? unit - 32 : unit; }

template <class Reader, class Map>
int Compare(Reader a, Reader b, Map map) {
  for (;;) {
    uint32_t ca = map(a.Next());
    uint32_t cb = map(b.Next());
    if (ca != cb) return ca < cb ? -1 : 1;
    if (!ca) return 0;
  }
}

uint32_t Same(uint32_t c) { return c; }

}  // namespace

size_t TextLen(const char* text) { return LenMax(text, kWholeText); }
size_t TextLen(const char16_t* text) { return LenMax(text, kWholeText); }
size_t TextLenMax(const char* text, size_t max) { return LenMax(text, max); }
size_t TextLenMax(const char16_t* text, size_t max) { return LenMax(text, max); }

bool TextIsEmpty(const char* text) { return !text || !text[0]; }
bool TextIsEmpty(const char16_t* text) { return !text || !text[0]; }
const char* TextOrEmpty(const char* text) { return text ? text : ""; }
const char16_t* TextOrEmpty(const char16_t* text) { return text ? text : u""; }

void TextMove(char* dest, const char* source, size_t count) { Move(dest, source, count); }
void TextMove(char16_t* dest, const char16_t* source, size_t count) {
  Move(dest, source, count);
}

size_t TextCopy(char* dest, size_t capacity, const char* source, size_t length) {
  return Copy(dest, capacity, source, length);
}
size_t TextCopy(char16_t* dest, size_t capacity, const char16_t* source, size_t length) {
  return Copy(dest, capacity, source, length);
}

size_t TextCat(char16_t* dest, size_t capacity, const char16_t* source, size_t length) {
  if (!dest || !capacity) return 0;
  size_t used = LenMax(dest, capacity);
  // An unterminated destination has no room to append into.
  if (used == capacity) return used;
  return used + Copy(dest + used, capacity - used, source, length);
}

size_t TextWipe(char16_t* text) {
  size_t n = TextLen(text);
  // volatile so the wipe of a password is not optimised away.
  volatile char16_t* p = text;
  for (size_t i = 0; i < n; i++) p[i] = 0;
  return n;
}

char16_t* TextAlloc(size_t count) {
  if (!count || count > SIZE_MAX / sizeof(char16_t)) return nullptr;
  auto* text = static_cast<char16_t*>(malloc(count * sizeof(char16_t)));
  if (text) text[0] = text[count - 1] = 0;
  return text;
}

char* TextAllocNarrow(size_t count) {
  if (!count) return nullptr;
  auto* text = static_cast<char*>(malloc(count));
  if (text) text[0] = text[count - 1] = 0;
  return text;
}

char* PoolDup(ScratchPool* pool, const char* source, size_t length) {
  return PoolCopy(pool, source, length);
}
char16_t* PoolDup(ScratchPool* pool, const char16_t* source, size_t length) {
  return PoolCopy(pool, source, length);
}

char16_t* HeapDup(const char16_t* source, size_t length) {
  return source ? HeapCopy(source, length) : nullptr;
}

namespace {

// Converts through a 100-unit local buffer; only longer texts convert twice.
template <class Convert, class Place>
char16_t* DupConverted(Convert convert, const char* source, size_t length, Place place) {
  char16_t local[100];
  size_t needed = convert(local, 100, source, length);
  if (needed < 100) return place(local, needed);
  char16_t* text = place(nullptr, needed);
  if (text) convert(text, needed + 1, source, length);
  return text;
}

// Copies `count` units of `source` (or reserves them when null) on the heap.
char16_t* HeapPlace(const char16_t* source, size_t count) {
  return source ? HeapCopy(source, count) : TextAlloc(count + 1);
}

}  // namespace

char16_t* PoolDupUtf8(ScratchPool* pool, const char* source, size_t length) {
  return DupConverted(Utf8ToWide, source, length, [pool](const char16_t* from, size_t count) {
    return from ? PoolCopy(pool, from, count)
                : static_cast<char16_t*>(pool->Alloc((count + 1) * sizeof(char16_t)));
  });
}

char16_t* HeapDupUtf8(const char* source, size_t length) {
  return DupConverted(Utf8ToWide, source, length, HeapPlace);
}

char16_t* HeapDupAnsi(const char* source, size_t length) {
  return DupConverted(AnsiToWide, source, length, HeapPlace);
}

const char16_t* TextFindChar(const char16_t* text, char16_t ch) {
  if (!text) return nullptr;
  size_t pos = 0;
  for (;;) {
    size_t at = pos;
    uint32_t c = Utf16Decode(text, kWholeText, pos);
    if (c == ch) return text + at;
    if (!c) return nullptr;
  }
}

const char16_t* TextFindLastChar(const char16_t* text, char16_t ch) {
  const char16_t* found = nullptr;
  if (text) {
    for (const char16_t* p = text;; p++) {
      if (*p == ch) found = p;
      if (!*p) break;
    }
  }
  return found;
}

const char16_t* EnvFind(const char16_t* const* list, const char16_t* key) {
  if (!list) return nullptr;
  for (; *list; list++) {
    const char16_t* entry = *list;
    // The search for '=' starts after the first unit, so "=C:=C:\" is named "=C:".
    const char16_t* equals = entry[0] ? TextFindChar(entry + 1, u'=') : nullptr;
    size_t name_length = equals ? static_cast<size_t>(equals - entry) : kWholeText;
    if (TextCompareFold(entry, name_length, key, kWholeText) == 0) {
      return equals ? equals + 1 : u"";
    }
  }
  return nullptr;
}

int TextCompare(const char* a, size_t length_a, const char* b, size_t length_b) {
  return Compare(Utf8Reader{a, length_a}, Utf8Reader{b, length_b}, Same);
}
int TextCompare(const char16_t* a, size_t length_a, const char16_t* b, size_t length_b) {
  return Compare(Utf16Reader{a, length_a}, Utf16Reader{b, length_b}, Same);
}
int TextCompareAscii(const char* a, size_t length_a, const char* b, size_t length_b) {
  return Compare(UnitReader<char>{a, length_a}, UnitReader<char>{b, length_b}, AsciiToUpper);
}
int TextCompareAscii(const char16_t* a, size_t length_a, const char16_t* b, size_t length_b) {
  return Compare(UnitReader<char16_t>{a, length_a}, UnitReader<char16_t>{b, length_b},
                 AsciiToUpper);
}
int TextCompareFold(const char* a, size_t length_a, const char* b, size_t length_b) {
  return Compare(Utf8Reader{a, length_a}, Utf8Reader{b, length_b}, FoldCase);
}
int TextCompareFold(const char16_t* a, size_t length_a, const char16_t* b, size_t length_b) {
  return Compare(Utf16Reader{a, length_a}, Utf16Reader{b, length_b}, FoldCase);
}

int TextStartsWithAscii(const char16_t* text, const char16_t* prefix) {
  size_t n = TextLen(prefix);
  return TextCompareAscii(text, n, prefix, n);
}

bool IsSpaceChar(uint32_t unit) {
  return unit == ' ' || unit == '\t' || unit == '\n' || unit == '\v' || unit == '\r';
}
bool IsHexDigitChar(uint32_t unit) {
  return (unit >= '0' && unit <= '9') || (unit >= 'a' && unit <= 'f') ||
         (unit >= 'A' && unit <= 'F');
}
bool IsAsciiAlnum(uint32_t unit) {
  return (unit >= '0' && unit <= '9') || (unit >= 'a' && unit <= 'z') ||
         (unit >= 'A' && unit <= 'Z');
}
uint32_t AsciiToLower(uint32_t unit) { return unit >= 'A' && unit <= 'Z' ? unit + 32 : unit; }

}  // namespace sm
