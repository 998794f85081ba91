#include "support/memory_device.h"

#include <cstring>

namespace sm::test {

void MemoryDevice::release() {
  if (released_ != nullptr) *released_ = true;
  delete this;
}

ErrorCode MemoryDevice::read(uint64_t offset, void* buffer, uint32_t length) {
  reads_.push_back({offset, length, buffer == nullptr});
  if (fail_at_ >= offset && fail_at_ - offset < length) return fail_error_;
  if (buffer == nullptr) return kOk;
  uint64_t const size = bytes_.size();
  uint64_t available = offset < size ? size - offset : 0;
  if (available > length) available = length;
  if (available != 0) memcpy(buffer, bytes_.data() + offset, available);
  return available == length ? kOk : kErrorEndOfFile;
}

}  // namespace sm::test
