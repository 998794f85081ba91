// Stands in for the packed image probe until the packed image reader exists:
// refuses every file, so the raw image probe alone decides.
#include "container/registry.h"

namespace sm {

ErrorCode packed_image_probe(SectorDevice** device, const char16_t*, FileHandle, const uint8_t*, uint32_t) {
  if (device != nullptr) *device = nullptr;
  return kErrorBadFormat;
}

}  // namespace sm
