// Calendar fields to a file time (100 ns since 1601-01-01), with the
// platform's rules for which dates exist; 0 for a date it rejects.
#pragma once

#include <cstdint>

#include "base/file_time.h"

namespace sm {

uint64_t CalendarToFileTime(const CalendarTime& time);

// File time of the local clock time `time` recorded with an offset from UTC
// in minutes: rejected dates give 0; results 0 and ~0 are kept as they are.
uint64_t CalendarToUtcFileTime(const CalendarTime& time, int32_t offset_minutes);

}  // namespace sm
