// ISO 9660 volumes (primary, Joliet, enhanced) of every recording session.
#pragma once

#include <cstdint>

#include "base/error.h"

namespace sm {

class MediaVolumeCore;

// Makes a volume root for each primary, supplementary and enhanced volume
// descriptor; the last one becomes the root. *udf_present tells whether an
// NSR descriptor was seen. `buffer` holds 2048 bytes.
ErrorCode scan_volume_descriptors(MediaVolumeCore& volume, uint8_t* buffer, bool* udf_present);

// The 17-byte and 7-byte dates of ISO 9660 as UTC file times.
uint64_t IsoLongDateToFileTime(const uint8_t* date);
uint64_t IsoShortDateToFileTime(const uint8_t* date);

}  // namespace sm
