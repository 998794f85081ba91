// Reads a whole image once through the device's checking read (no buffer),
// in steps of 256 KiB, telling a sink the position before each step.
#pragma once

#include <cstdint>

#include "base/error.h"
#include "media/media_volume.h"

namespace sm {

inline constexpr uint32_t kVerifyStep = 262144;

// total: the image bytes (whole sectors). 0, the first read error, or the
// result of the step after which the sink asked to stop.
ErrorCode VerifyDevice(SectorDevice* device, uint64_t total, ProgressSink* sink);

}  // namespace sm
