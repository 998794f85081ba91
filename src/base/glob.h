// Wildcard match of a whole text: '*' any run, '?' one character.
#pragma once

#include "base/text.h"

namespace sm {

// Pattern first, text second. GlobMatch compares code points; GlobMatchAscii
// compares units with a-z folded to A-Z. Time grows with pattern length times
// text length, however many '*' the pattern holds.
bool GlobMatch(const char16_t* pattern, const char16_t* text);
bool GlobMatchAscii(const char16_t* pattern, const char16_t* text);

}  // namespace sm
