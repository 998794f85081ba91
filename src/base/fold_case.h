// Simple case folding (Unicode 5.0, CaseFolding status C and S).
#pragma once

#include <cstdint>

namespace sm {

// The folded code point, or the code point itself when it has no folding.
// U+0130 and U+0131 (Turkic dotted/dotless i) are left unchanged.
uint32_t FoldCase(uint32_t code_point);

}  // namespace sm
