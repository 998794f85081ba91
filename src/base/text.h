// Text helpers over the two text forms: narrow (UTF-8 in char) and wide
// (UTF-16 in char16_t), both ended by a NUL unit.
//
// Unless said otherwise: a null text is an empty text, a length of
// kWholeText (-1) means up to the NUL, and an explicit length also stops at an
// earlier NUL. Lengths and capacities count units, never characters.
// Heap results are allocated with malloc; the caller frees them with free().
#pragma once

#include <cstddef>
#include <cstdint>

// The code page conversions, case folding and wildcard match are text
// helpers too; one include brings them all.
#include "base/codepage.h"
#include "base/fold_case.h"
#include "base/glob.h"
#include "base/pool.h"
#include "base/utf.h"

namespace sm {

size_t TextLen(const char* text);
size_t TextLen(const char16_t* text);
size_t TextLenMax(const char* text, size_t max);
size_t TextLenMax(const char16_t* text, size_t max);

bool TextIsEmpty(const char* text);
bool TextIsEmpty(const char16_t* text);
const char* TextOrEmpty(const char* text);
const char16_t* TextOrEmpty(const char16_t* text);

// Copies `count` units, correct for overlapping ranges. A null source fills
// the destination with zeros; a null destination does nothing.
void TextMove(char* dest, const char* source, size_t count);
void TextMove(char16_t* dest, const char16_t* source, size_t count);

// Copies the source (at most `length` units and capacity - 1) and always
// terminates; capacity 0 or a null destination writes nothing. Returns the
// units copied.
size_t TextCopy(char* dest, size_t capacity, const char* source, size_t length = kWholeText);
size_t TextCopy(char16_t* dest, size_t capacity, const char16_t* source,
                size_t length = kWholeText);

// Appends the source after the text in `dest`, within the capacity, and
// terminates. Returns the new length of `dest`.
size_t TextCat(char16_t* dest, size_t capacity, const char16_t* source,
               size_t length = kWholeText);

// Overwrites the text with zeros (passwords) and returns its former length.
size_t TextWipe(char16_t* text);

// Heap buffer of `count` units with its first and last unit 0; 0 gives null.
char16_t* TextAlloc(size_t count);
char* TextAllocNarrow(size_t count);

// Terminated copy of the first `length` units in the pool; null source: "".
char* PoolDup(ScratchPool* pool, const char* source, size_t length = kWholeText);
char16_t* PoolDup(ScratchPool* pool, const char16_t* source, size_t length = kWholeText);
// Terminated copy on the heap; a null source gives null.
char16_t* HeapDup(const char16_t* source, size_t length = kWholeText);
// UTF-8 converted to wide text, in a pool or on the heap.
char16_t* PoolDupUtf8(ScratchPool* pool, const char* source, size_t length = kWholeText);
char16_t* HeapDupUtf8(const char* source, size_t length = kWholeText);

// First position whose code point is `ch`, or null.
const char16_t* TextFindChar(const char16_t* text, char16_t ch);
// Last position whose unit is `ch`, or null.
const char16_t* TextFindLastChar(const char16_t* text, char16_t ch);
inline char16_t* TextFindChar(char16_t* text, char16_t ch) {
  return const_cast<char16_t*>(TextFindChar(const_cast<const char16_t*>(text), ch));
}
inline char16_t* TextFindLastChar(char16_t* text, char16_t ch) {
  return const_cast<char16_t*>(TextFindLastChar(const_cast<const char16_t*>(text), ch));
}

// In a null-terminated array of name=value texts, the value of the first
// entry whose name equals `key` under TextCompareFold; null when none does.
// The name ends at the first '=' after the entry's first unit ("=C:=C:\" has
// the name "=C:"); an entry without '=' has an empty value.
const char16_t* EnvFind(const char16_t* const* list, const char16_t* key);

// Comparisons return -1, 0 or 1. The end of a text reads as code point 0, so a
// proper prefix sorts first; code points compare unsigned.
int TextCompare(const char* a, size_t length_a, const char* b, size_t length_b);
int TextCompare(const char16_t* a, size_t length_a, const char16_t* b, size_t length_b);
// Units compared after mapping a-z to A-Z; nothing else is folded.
int TextCompareAscii(const char* a, size_t length_a, const char* b, size_t length_b);
int TextCompareAscii(const char16_t* a, size_t length_a, const char16_t* b, size_t length_b);
// Code points compared after FoldCase.
int TextCompareFold(const char* a, size_t length_a, const char* b, size_t length_b);
int TextCompareFold(const char16_t* a, size_t length_a, const char16_t* b, size_t length_b);
// Whole-text forms.
inline int TextCompare(const char16_t* a, const char16_t* b) {
  return TextCompare(a, kWholeText, b, kWholeText);
}
inline int TextCompareAscii(const char16_t* a, const char16_t* b) {
  return TextCompareAscii(a, kWholeText, b, kWholeText);
}
inline int TextCompareFold(const char16_t* a, const char16_t* b) {
  return TextCompareFold(a, kWholeText, b, kWholeText);
}
inline int TextCompare(const char* a, const char* b) {
  return TextCompare(a, kWholeText, b, kWholeText);
}
inline int TextCompareAscii(const char* a, const char* b) {
  return TextCompareAscii(a, kWholeText, b, kWholeText);
}
inline int TextCompareFold(const char* a, const char* b) {
  return TextCompareFold(a, kWholeText, b, kWholeText);
}

// 0 when `text` begins with `prefix` under TextCompareAscii, nonzero otherwise.
int TextStartsWithAscii(const char16_t* text, const char16_t* prefix);

bool IsSpaceChar(uint32_t unit);  // TAB, LF, VT, CR, space (not form feed)
bool IsHexDigitChar(uint32_t unit);
bool IsAsciiAlnum(uint32_t unit);
uint32_t AsciiToLower(uint32_t unit);

}  // namespace sm
