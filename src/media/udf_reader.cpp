// Placeholder until the UDF reader lands: images are read as ISO 9660 only.
#include "media/udf_reader.h"

namespace sm {

ErrorCode read_udf_structures(MediaVolumeCore&, uint8_t*) { return kErrorBadFormat; }

}  // namespace sm
