// A disc image mounted as a tree of folders and files, walked with handles
// the caller chooses. Besides the root, the synthetic folder ".$media" holds
// "image.iso" (the whole image) and one folder per file system found.
#pragma once

#include <cstdint>

#include "base/error.h"
#include "os/handle.h"

namespace sm {

class SectorDevice;

inline constexpr uint8_t kMediaKindFile = 1;
inline constexpr uint8_t kMediaKindFolder = 2;

inline constexpr uint8_t kMediaAttributeHidden = 0x02;
inline constexpr uint8_t kMediaAttributeSystem = 0x04;
inline constexpr uint8_t kMediaAttributeArchive = 0x20;

// A complete close_handle, as opposed to one that only drops cursors.
inline constexpr uint64_t kMediaCloseAll = ~uint64_t{0};

// What enumerate offers and open_path returns. Times are file times (100 ns
// since 1601-01-01 UTC), 0 when not recorded.
struct MediaEntry {
  uint8_t kind;
  uint8_t attributes;
  uint64_t id;
  uint64_t size;
  uint64_t creation_time;
  uint64_t second_time;  // always 0 here
  uint64_t last_write_time;
  uint64_t fourth_time;  // always 0 here
};

struct MediaOpenResult {
  uint64_t handle;
  uint64_t open_count;
  MediaEntry entry;
};

// One component of a path; open_path uses the UTF-8 form.
struct NameSlot {
  const char16_t* wide_name;
  uint32_t wide_length;
  const char* utf8_name;
  uint32_t utf8_length;
};

// Receives the children of a folder from enumerate. The entry and the name
// are valid only during the call. Refusing an entry makes the next enumerate
// call offer it again; setting *more asks for the next entry in this call.
class EntrySink {
 public:
  virtual bool on_entry(const MediaEntry& entry, const char* name, bool* more) = 0;
  virtual void on_end() = 0;

 protected:
  ~EntrySink() = default;
};

// Told the position before each step of verification; a nonzero answer stops
// it after that step.
class ProgressSink {
 public:
  virtual uint8_t report_progress(uint64_t done, uint64_t total) = 0;
  virtual void finish_progress() = 0;

 protected:
  ~ProgressSink() = default;
};

class MediaVolume {
 public:
  virtual void release() = 0;
  virtual ErrorCode verify(ProgressSink* sink) = 0;
  virtual void free_buffer(void* buffer) = 0;
  // Opens the entry at names[0..count); count 0 opens the root. A node opened
  // again keeps its first handle. *name_buffer (when asked for and count > 0)
  // receives the entry's name as heap wide text, given back with free_buffer.
  virtual ErrorCode open_path(const NameSlot* names, uint32_t count, uint64_t new_handle,
                              MediaOpenResult* result, char16_t** name_buffer) = 0;
  // seen = kMediaCloseAll closes the handle; otherwise only the node's
  // cursors go, and only when nobody opened it after `seen` opens.
  virtual ErrorCode close_handle(uint64_t handle, uint64_t seen) = 0;
  virtual ErrorCode enumerate(uint64_t handle, uint64_t listing_id, EntrySink* sink) = 0;
  virtual ErrorCode end_enumeration(uint64_t handle, uint64_t listing_id) = 0;
  virtual ErrorCode read(uint64_t handle, uint64_t offset, void* buffer, uint32_t length,
                         uint32_t* bytes_read) = 0;
  virtual ErrorCode image_size(uint64_t* size) = 0;
  virtual ErrorCode close_files() = 0;
  // handle 0 means the root. *label is heap wide text, given back with free_buffer.
  virtual ErrorCode volume_info(uint64_t handle, uint64_t* time, char16_t** label) = 0;
  virtual ErrorCode reopen_handle(uint64_t handle, MediaOpenResult* result) = 0;

 protected:
  ~MediaVolume() = default;
};

// Opens the image file through the container registry and mounts it. The two
// handles serve a password prompt, which no device of this system makes.
ErrorCode mount_media_volume(MediaVolume** out, const char16_t* image_path, FileHandle input,
                             FileHandle output);

// Mounts an already loaded device; the volume owns it from here on, also on
// failure (it is released then).
ErrorCode mount_media_device(MediaVolume** out, SectorDevice* device);

}  // namespace sm
