// Wildcard match of a whole text: '*' any run, '?' one character.
#pragma once

#include "base/text.h"

namespace sm {

// Pattern first, text second. GlobMatch compares code points; GlobMatchAscii
// compares units with a-z folded to A-Z. At most 50 '*' retry points are
// kept; a '*' met beyond that matches only the empty run.
bool GlobMatch(const char16_t* pattern, const char16_t* text);
bool GlobMatchAscii(const char16_t* pattern, const char16_t* text);

}  // namespace sm
