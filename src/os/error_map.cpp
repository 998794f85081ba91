#include "os/file.h"

namespace sm {
namespace {

struct CompactPair {
  uint16_t error;
  uint8_t compact;
};

// Searched in order: the first pair with a matching code wins, so the later
// duplicates (5 -> 15, the repeated 3 and 267) are never reached.
constexpr CompactPair kToCompact[] = {
    {0, 0},     {109, 1},  {1223, 2}, {995, 2},  {1, 3},    {1305, 3},  {87, 4},  {6, 4},   {111, 4},
    {5, 5},     {14, 6},   {31, 7},   {7, 7},    {1237, 7}, {1168, 8},  {126, 8}, {2, 8},   {3, 9},
    {3, 9},     {183, 10}, {80, 10},  {39, 11},  {112, 11}, {123, 12},  {145, 13}, {38, 14}, {5, 15},
    {303, 16},  {11, 17},  {193, 17}, {121, 18}, {64, 18},  {267, 19},  {267, 19}, {18, 20}, {737, 21},
    {5, 5},
};

constexpr uint16_t kFromCompact[22] = {0,  109, 1223, 1,   87,  5,   14, 31,  1168, 3,   183,
                                       39, 123, 145,  38,  5,   303, 11, 121, 267,  18,  737};

}  // namespace

uint32_t error_to_compact(ErrorCode error) {
  for (const CompactPair& pair : kToCompact) {
    if (pair.error == error) return pair.compact;
  }
  return 7;
}

ErrorCode compact_to_error(uint32_t compact) { return compact < 22 ? kFromCompact[compact] : 31; }

}  // namespace sm
