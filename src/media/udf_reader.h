// The UDF file set of an image whose ISO 9660 scan saw an NSR descriptor.
#pragma once

#include <cstdint>

#include "base/error.h"

namespace sm {

class MediaVolumeCore;

// Makes the volume root "udf" (which becomes the root) and queues the reads
// of its file entries; the mount runs the pending queue afterwards.
// `buffer` holds 2048 bytes.
ErrorCode read_udf_structures(MediaVolumeCore& volume, uint8_t* buffer);

}  // namespace sm
