// Mounting an image file: the container registry makes the device.
#include "container/registry.h"
#include "container/sector_device.h"
#include "media/media_volume.h"
#include "media/password_provider.h"

namespace sm {

ErrorCode mount_media_volume(MediaVolume** out, const char16_t* image_path, FileHandle input, FileHandle output) {
  *out = nullptr;
  SectorDevice* device = nullptr;
  ErrorCode error = open_container(&device, image_path, kInvalidFileHandle, nullptr, 0);
  if (error != kOk) return error;
  PasswordProvider passwords(input, output);
  error = device->load(&passwords);
  passwords.forget_password();
  if (error != kOk) {
    device->release();
    return error;
  }
  return mount_media_device(out, device);
}

}  // namespace sm
