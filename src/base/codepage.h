// Conversions between the system ANSI code page and Unicode.
//
// Windows uses the system's code page services; the POSIX build has a fixed
// Windows-1252 code page behind the same functions. The buffer contract is the
// one of Utf8ToWide (base/utf.h): the result is the destination units the
// whole conversion needs, without the terminator.
#pragma once

#include <cstddef>

namespace sm {

// Each code page character is converted alone. A double-byte lead byte whose
// second byte is missing ends the conversion with U+FFFF; a byte the code
// page cannot convert gives U+FFFF and the conversion moves on one byte.
size_t AnsiToWide(char16_t* dest, size_t capacity, const char* source, size_t length);
size_t AnsiToUtf8(char* dest, size_t capacity, const char* source, size_t length);

// Each code point becomes at most 6 bytes; code points above U+FFFF and
// characters the code page cannot represent exactly become the byte 0x7F.
size_t WideToAnsi(char* dest, size_t capacity, const char16_t* source, size_t length);

// Code page text converted onto the heap (free with free()); null on failure.
char16_t* HeapDupAnsi(const char* source, size_t length = static_cast<size_t>(-1));

}  // namespace sm
