// The registry of container formats: which kind of SectorDevice a file
// becomes. Each format contributes a probe; open_container reads the first
// bytes of the file once and offers them to the probes in priority order.
#pragma once

#include <cstdint>

#include "base/error.h"
#include "container/sector_device.h"
#include "os/handle.h"

namespace sm {

// Accepts or refuses a file. On success it has stored a new device in
// *device; on failure it has released whatever it built and stored null.
// `handle` is open for reading (or the invalid handle); `header` holds the
// first `header_length` bytes of the file (fewer than the registry's header
// size only when the file is shorter). A probe may move the file position.
using ProbeFunction = ErrorCode (*)(SectorDevice** device, const char16_t* path, FileHandle handle,
                                    const uint8_t* header, uint32_t header_length);

// One registry entry; entries are static objects that live as long as the
// process and are never freed.
struct ContainerFormat {
  int32_t priority;  // lower values are tried first
  ContainerFormat* next;
  ProbeFunction probe;
};

// Links `entry` in before the first entry whose priority is greater than or
// equal to its own (so a later registration goes before earlier ones of equal
// priority) and raises the registry's header size to `header_size` if larger.
void register_container_format(ContainerFormat* entry, int32_t priority, uint32_t header_size,
                               ProbeFunction probe);

// Opens the image file at `path` as a SectorDevice. With the invalid handle
// the file is opened (and closed again) here; a caller's handle stays open.
// A header shorter than the registry's header size is read again from the
// file. Returns 11 when no format accepts the file. The caller then calls
// load() on the device.
ErrorCode open_container(SectorDevice** device, const char16_t* path, FileHandle handle,
                         const uint8_t* header, uint32_t header_length);

// The first entry of the registry (built-in formats included) and the
// largest header size any format asked for.
ContainerFormat* container_formats();
uint32_t container_header_size();

// Built-in formats, registered before the first use of the registry: the
// packed image (priority 0, header size 65,536) and then the raw image
// (priority 0, header size 139,264), so the raw probe runs first.
inline constexpr uint32_t kPackedImageHeaderSize = 0x10000;
inline constexpr uint32_t kRawImageHeaderSize = 0x22000;

ErrorCode packed_image_probe(SectorDevice** device, const char16_t* path, FileHandle handle,
                             const uint8_t* header, uint32_t header_length);
ErrorCode raw_image_probe(SectorDevice** device, const char16_t* path, FileHandle handle,
                          const uint8_t* header, uint32_t header_length);

// What an inspector shows of a loaded packed image. `device` must have been
// made by packed_image_probe; `part_path` is valid as long as the device.
struct PackedImageSummary {
  uint64_t image_size;
  uint64_t block_count;
  uint32_t block_size;
  uint8_t compression_method;
  uint8_t digest_method;
  uint32_t part_count;
  uint32_t missing_parts;
};
void packed_image_summary(SectorDevice* device, PackedImageSummary* summary);
const char16_t* packed_image_part_path(SectorDevice* device, uint32_t index);

}  // namespace sm
