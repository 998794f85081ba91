// Mounting byte-built images for the media tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "media/media_volume.h"
#include "support/memory_device.h"

namespace sm::test {

struct VolumeReleaser {
  void operator()(MediaVolume* volume) const {
    if (volume != nullptr) volume->release();
  }
};
using VolumePtr = std::unique_ptr<MediaVolume, VolumeReleaser>;

// Mounts the bytes through a MemoryDevice; *device (when asked) stays valid
// as long as the volume.
inline VolumePtr MountBytes(std::vector<uint8_t> bytes, MemoryDevice** device = nullptr,
                            std::vector<uint64_t> sessions = {}) {
  auto* memory = new MemoryDevice(std::move(bytes));
  memory->sessions_ = std::move(sessions);
  if (device != nullptr) *device = memory;
  MediaVolume* volume = nullptr;
  ErrorCode const error = mount_media_device(&volume, memory);
  EXPECT_EQ(error, kOk);
  return VolumePtr(volume);
}

}  // namespace sm::test
