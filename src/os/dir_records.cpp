#include "os/dir_records.h"

#include <cstring>

#include "os/file.h"

namespace sm {
namespace {

template <typename T>
T load(const uint8_t* at) {
  T value;
  memcpy(&value, at, sizeof value);
  return value;
}

// The layout both classes share up to the extended-attribute size.
bool decode_common(const uint8_t* buffer, size_t filled, size_t offset, size_t name_offset, DirRecord* record) {
  if (offset > filled || filled - offset < name_offset) return false;
  const uint8_t* at = buffer + offset;
  uint32_t name_bytes = load<uint32_t>(at + 60);
  if (name_bytes % 2 || name_bytes > filled - offset - name_offset) return false;
  *record = DirRecord{};
  record->next_offset = load<uint32_t>(at);
  record->info.creation_time = load<int64_t>(at + 8);
  record->info.last_access_time = load<int64_t>(at + 16);
  record->info.last_write_time = load<int64_t>(at + 24);
  record->info.change_time = load<int64_t>(at + 32);
  record->info.size = load<uint64_t>(at + 40);
  record->info.attributes = load<uint32_t>(at + 56);
  record->name = at + name_offset;
  record->name_units = name_bytes / 2;
  return true;
}

}  // namespace

bool decode_full_id_record(const uint8_t* buffer, size_t filled, size_t offset, DirRecord* record) {
  if (!decode_common(buffer, filled, offset, kClass38NameOffset, record)) return false;
  const uint8_t* at = buffer + offset;
  if (record->info.attributes & kAttributeReparsePoint) record->reparse_tag = load<uint32_t>(at + 64);
  memcpy(record->info.file_id, at + 72, 8);
  return true;
}

bool decode_extended_id_record(const uint8_t* buffer, size_t filled, size_t offset, DirRecord* record) {
  if (!decode_common(buffer, filled, offset, kClass60NameOffset, record)) return false;
  const uint8_t* at = buffer + offset;
  if (record->info.attributes & kAttributeReparsePoint) record->reparse_tag = load<uint32_t>(at + 68);
  memcpy(record->info.file_id, at + 72, 16);
  return true;
}

}  // namespace sm
