// An opened disc image: reads at byte offsets of an image of 2048-byte
// sectors, whatever the file behind it looks like on disk.
#pragma once

#include <cstdint>

#include "base/error.h"

namespace sm {

// Supplied by the media volume; no device of this system asks it for anything.
class PasswordProvider;

inline constexpr uint32_t kSectorSize = 2048;

class SectorDevice {
 public:
  // Destroys the device (closes its files, frees its memory) and the object.
  virtual void release() = 0;
  // Finishes opening; called once, after a probe accepted the file and before
  // any other operation.
  virtual ErrorCode load(PasswordProvider* passwords) = 0;
  virtual uint32_t sector_size() = 0;
  virtual uint64_t total_size() = 0;
  // 0 means a single-session image.
  virtual uint32_t session_count() = 0;
  virtual uint64_t session_offset(uint32_t session) = 0;
  // Copies `length` image bytes from `offset` into `buffer`. With a null
  // buffer the bytes are only checked (digests where the device has them);
  // no memory is touched through the missing buffer.
  virtual ErrorCode read(uint64_t offset, void* buffer, uint32_t length) = 0;
  // Closes every file handle the device keeps; the next read reopens them.
  virtual void close_files() = 0;

 protected:
  // Devices are destroyed through release() only.
  virtual ~SectorDevice() = default;
};

}  // namespace sm
