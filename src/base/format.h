// The formatter: printf-style directives for wide (UTF-16) and narrow
// (UTF-8) text, plus GUIDs (%r, %R) and time stamps (%T file time, %t Unix
// seconds). It always counts the full result so callers can size buffers.
//
// Arguments are read with their own C types: integers as int / unsigned
// (long long with I64, ll), characters as int, strings and %n targets as
// pointers. %p and %P print a 32-bit unsigned value (any size prefix is
// ignored) in hexadecimal with no forced width.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "base/pool.h"

namespace sm {

// Writes at most capacity - 1 units of the result and a terminator; a null
// buffer or capacity 0 only measures. Returns the units of the whole result.
size_t FormatText(char16_t* buffer, size_t capacity, const char16_t* format, ...);
size_t FormatTextV(char16_t* buffer, size_t capacity, const char16_t* format, va_list args);
size_t FormatTextNarrow(char* buffer, size_t capacity, const char* format, ...);
size_t FormatTextNarrowV(char* buffer, size_t capacity, const char* format, va_list args);

// The result in a pool or on the heap (free with free()); null on failure.
char16_t* PoolFormat(ScratchPool* pool, const char16_t* format, ...);
char16_t* PoolFormatV(ScratchPool* pool, const char16_t* format, va_list args);
char* PoolFormatNarrow(ScratchPool* pool, const char* format, ...);
char* PoolFormatNarrowV(ScratchPool* pool, const char* format, va_list args);
char16_t* HeapFormat(const char16_t* format, ...);
char16_t* HeapFormatV(const char16_t* format, va_list args);

}  // namespace sm
