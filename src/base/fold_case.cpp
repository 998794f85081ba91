#include "base/fold_case.h"

#include "base/fold_case_table.h"

namespace sm {

namespace {

// Power-of-two bisection from index 0 (a sentinel that is never read).
template <class Pair, class Value>
uint32_t Search(const Pair* table, uint32_t step, Value code_point) {
  uint32_t index = 0;
  for (; step; step >>= 1) {
    if (table[index + step].code_point <= code_point) index += step;
  }
  if (index && table[index].code_point == code_point) return table[index].folded;
  return code_point;
}

}  // namespace

uint32_t FoldCase(uint32_t code_point) {
  if (code_point < 0x800) {
    uint8_t entry = kFoldCaseSmall[code_point];
    if (entry != 255) return code_point + entry - 32;
  }
  if (code_point <= 0xFFFF) {
    return Search(kFoldCaseBmp, 256, static_cast<uint16_t>(code_point));
  }
  return Search(kFoldCaseSupplementary, 32, code_point);
}

}  // namespace sm
