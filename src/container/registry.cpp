#include "container/registry.h"

#include <cstdlib>

#include "os/file.h"

namespace sm {
namespace {

// Filled before the first image is opened and only read afterwards.
ContainerFormat* g_first_format = nullptr;
uint32_t g_header_size = 0;

void insert_format(ContainerFormat* entry, int32_t priority, uint32_t header_size, ProbeFunction probe) {
  entry->priority = priority;
  entry->probe = probe;
  if (header_size > g_header_size) g_header_size = header_size;
  ContainerFormat** link = &g_first_format;
  while (*link != nullptr && (*link)->priority < priority) link = &(*link)->next;
  entry->next = *link;
  *link = entry;
}

ContainerFormat g_packed_image_format;
ContainerFormat g_raw_image_format;

bool register_built_in_formats() {
  // Registered in this order, so the raw image (the later one of equal
  // priority) is tried first and the packed image second.
  insert_format(&g_packed_image_format, 0, kPackedImageHeaderSize, packed_image_probe);
  insert_format(&g_raw_image_format, 0, kRawImageHeaderSize, raw_image_probe);
  return true;
}

// The built-in formats join the registry on its first use rather than from a
// static initialiser: a linker drops unreferenced objects of a static
// library, and initialisation order across files is unspecified.
void ensure_built_in_formats() {
  static const bool registered = register_built_in_formats();
  (void)registered;
}

}  // namespace

void register_container_format(ContainerFormat* entry, int32_t priority, uint32_t header_size,
                               ProbeFunction probe) {
  ensure_built_in_formats();
  insert_format(entry, priority, header_size, probe);
}

ContainerFormat* container_formats() {
  ensure_built_in_formats();
  return g_first_format;
}

uint32_t container_header_size() {
  ensure_built_in_formats();
  return g_header_size;
}

ErrorCode open_container(SectorDevice** device, const char16_t* path, FileHandle handle, const uint8_t* header,
                         uint32_t header_length) {
  *device = nullptr;
  ensure_built_in_formats();

  FileHandle opened = kInvalidFileHandle;
  if (handle == kInvalidFileHandle) {
    ErrorCode const error = file_open(&opened, path, OPEN_QUERY | OPEN_READ);
    if (error != kOk) return error;
    handle = opened;
  }

  ErrorCode result = kOk;
  uint8_t* buffer = nullptr;
  if (header == nullptr || header_length < g_header_size) {
    // Read the first bytes once for every probe; a file shorter than the
    // header size gives a shorter header.
    buffer = static_cast<uint8_t*>(malloc(g_header_size));
    if (buffer == nullptr) {
      result = kErrorOutOfMemory;
    } else {
      uint32_t got = 0;
      result = file_seek(handle, 0, 0);
      if (result == kOk) result = file_read(handle, buffer, g_header_size, &got);
      header = buffer;
      header_length = got;
    }
  }

  if (result == kOk) {
    result = kErrorBadFormat;  // unless a probe accepts; refusals are not reported
    for (ContainerFormat* format = g_first_format; format != nullptr; format = format->next) {
      SectorDevice* accepted = nullptr;
      if (format->probe(&accepted, path, handle, header, header_length) == kOk && accepted != nullptr) {
        *device = accepted;
        result = kOk;
        break;
      }
    }
  }

  if (opened != kInvalidFileHandle) handle_close(opened);
  free(buffer);
  return result;
}

}  // namespace sm
