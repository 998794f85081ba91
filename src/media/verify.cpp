#include "media/verify.h"

#include "container/sector_device.h"

namespace sm {

ErrorCode VerifyDevice(SectorDevice* device, uint64_t total, ProgressSink* sink) {
  ErrorCode result = kOk;
  for (uint64_t position = 0; result == kOk && position < total; position += kVerifyStep) {
    uint8_t const stop = sink != nullptr ? sink->report_progress(position, total) : 0;
    // The last step may reach past the end; the device answers for that part.
    result = device->read(position, nullptr, kVerifyStep);
    if (stop != 0) break;
  }
  return result;
}

}  // namespace sm
