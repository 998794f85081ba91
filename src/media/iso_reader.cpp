// ISO 9660: volume descriptors of every session, directory records, and
// the extended attribute records read later through the pending queue.
#include "media/iso_reader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/codepage.h"
#include "base/text.h"
#include "base/utf.h"
#include "container/sector_device.h"
#include "media/calendar.h"
#include "media/directory_stream.h"
#include "media/volume_core.h"

namespace sm {

namespace {

// Both-byte-order numbers are taken from their big-endian half.
uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

uint32_t SectorsFor(uint64_t bytes) {
  return static_cast<uint32_t>((bytes + kMediaSectorSize - 1) / kMediaSectorSize);
}

enum DescriptorClass : int {
  kPassedOver = -1,
  kEndOfSet = 0,
  kPrimary = 1,
  kSupplementary = 2,
  kEnhanced = 3,
  kUdfPresent = 4,
};

int ClassifyDescriptor(const uint8_t* d) {
  struct Known {
    uint8_t type;
    char id[6];
    uint8_t version;
    int descriptor_class;
  };
  static constexpr Known kKnown[] = {
      {0x01, "CD001", 1, kPrimary},    {0x02, "CD001", 1, kSupplementary}, {0x02, "CD001", 2, kEnhanced},
      {0x00, "NSR02", 1, kUdfPresent}, {0x00, "NSR03", 1, kUdfPresent},    {0x00, "CD001", 1, kPassedOver},
      {0x03, "CD001", 1, kPassedOver}, {0xFF, "CD001", 1, kPassedOver},    {0x00, "BEA01", 1, kPassedOver},
      {0x00, "BOOT2", 1, kPassedOver}, {0x00, "CDW02", 2, kPassedOver},
  };
  for (Known const& known : kKnown) {
    if (d[0] == known.type && memcmp(d + 1, known.id, 5) == 0 && d[6] == known.version) {
      return known.descriptor_class;
    }
  }
  return kEndOfSet;
}

enum NameEncoding : uint8_t { kCodePage = 1, kUcs2 = 2, kUtf8 = 3 };

// Escape sequences of the supplementary and enhanced descriptors; 0 for a
// sequence this reader does not know.
uint8_t EncodingOfEscapes(const uint8_t* field) {
  size_t const length = strnlen(reinterpret_cast<const char*>(field), 32);
  static constexpr const char* kUcs2Escapes[] = {"%/@", "%/C", "%/E"};
  static constexpr const char* kUtf8Escapes[] = {"%/G", "%/H", "%/I"};
  for (const char* escape : kUcs2Escapes) {
    if (length == 3 && memcmp(field, escape, 3) == 0) return kUcs2;
  }
  for (const char* escape : kUtf8Escapes) {
    if (length == 3 && memcmp(field, escape, 3) == 0) return kUtf8;
  }
  return 0;
}

// Big-endian UCS-2 bytes as wide text (n characters, NUL-terminated).
void Ucs2ToWide(const uint8_t* bytes, size_t count, char16_t* out) {
  for (size_t i = 0; i < count; ++i) out[i] = static_cast<char16_t>((bytes[2 * i] << 8) | bytes[2 * i + 1]);
  out[count] = u'\0';
}

constexpr uint32_t kLabelCapacity = 50;  // 49 characters and the NUL

char16_t* DecodeLabel(const uint8_t* field, uint8_t encoding) {
  char16_t text[kLabelCapacity] = {};
  if (encoding == kUcs2) {
    Ucs2ToWide(field, 16, text);
  } else if (encoding == kUtf8) {
    const char* bytes = reinterpret_cast<const char*>(field);
    Utf8ToWide(text, kLabelCapacity, bytes, strnlen(bytes, 32));
  } else {
    AnsiToWide(text, kLabelCapacity, reinterpret_cast<const char*>(field), 32);
  }
  size_t length = TextLen(text);
  while (length > 0 && text[length - 1] == u' ') --length;
  return HeapDup(text, length);
}

constexpr uint32_t kNameCapacity = 500;  // 499 bytes of UTF-8 and the NUL

// Identifier bytes as UTF-8; returns its length.
size_t DecodeName(const uint8_t* id, size_t length, uint8_t encoding, char* out) {
  if (encoding == kUcs2) {
    char16_t wide[128];
    Ucs2ToWide(id, length / 2, wide);
    WideToUtf8(out, kNameCapacity, wide, length / 2);
  } else if (encoding == kUtf8) {
    size_t n = strnlen(reinterpret_cast<const char*>(id), length);
    if (n > kNameCapacity - 1) n = kNameCapacity - 1;
    memcpy(out, id, n);
    out[n] = '\0';
  } else {
    AnsiToUtf8(out, kNameCapacity, reinterpret_cast<const char*>(id), length);
  }
  return strlen(out);
}

// Length of the name without a version suffix ";1".."32767" (and without a
// dot that the suffix leaves last), or the whole length when there is none.
size_t WithoutVersion(const char* name, size_t length) {
  size_t semicolon = length;
  for (size_t i = length; i > 0; --i) {
    if (name[i - 1] == ';') {
      semicolon = i - 1;
      break;
    }
  }
  if (semicolon == length || semicolon + 1 == length || name[semicolon + 1] == '0') return length;
  uint32_t value = 0;
  for (size_t i = semicolon + 1; i < length; ++i) {
    if (name[i] < '0' || name[i] > '9') return length;
    value = value * 10 + static_cast<uint32_t>(name[i] - '0');
    if (value > 32767) return length;
  }
  size_t result = semicolon;
  if (result >= 2 && name[result - 1] == '.') --result;
  return result;
}

class IsoReader final : public FileSystemReader {
 public:
  IsoReader(MediaVolumeCore& volume, int descriptor_class, uint8_t encoding)
      : volume_(volume), descriptor_class_(descriptor_class), encoding_(encoding) {}

  void release() override {
    free(label_);
    delete this;
  }
  void finish_pending(PendingRead* record, uint8_t* buffer, uint32_t buffer_size) override;
  ErrorCode load_folder(MediaNode* folder, bool* run_pending) override;
  ErrorCode volume_info(uint64_t* time, char16_t** label) override {
    *time = creation_time_;
    *label = HeapDup(label_);
    return kOk;
  }

  uint64_t creation_time_ = 0;
  char16_t* label_ = nullptr;

 private:
  ~IsoReader() = default;

  MediaVolumeCore& volume_;
  int descriptor_class_;
  uint8_t encoding_;
};

void IsoReader::finish_pending(PendingRead* record, uint8_t* buffer, uint32_t) {
  // The fixed part of an extended attribute record holds two long dates.
  if (volume_.device()->read(record->position, buffer, 250) == kOk) {
    record->node->creation_time = IsoLongDateToFileTime(buffer + 10);
    record->node->last_write_time = IsoLongDateToFileTime(buffer + 27);
  }
  record->destroy();
}

ErrorCode IsoReader::load_folder(MediaNode* folder, bool*) {
  DirectoryStream stream(volume_, folder);
  uint8_t record[256];
  uint8_t previous_id[256];
  size_t previous_length = 0;
  MediaNode* previous = nullptr;
  char name[kNameCapacity];

  for (;;) {
    uint64_t position = 0;
    ErrorCode error = stream.read(record, 1, &position);
    if (error != kOk) return error == kErrorEndOfFile ? kOk : error;
    if (record[0] == 0) {
      stream.skip_to_sector_boundary();  // the rest of the sector is padding
      continue;
    }
    uint32_t const record_length = record[0];
    if (record_length <= 33) return kErrorBadFormat;
    error = stream.read(record + 1, record_length - 1, nullptr);
    if (error != kOk) return error == kErrorEndOfFile ? kOk : error;
    uint32_t const id_length = record[32];
    if (id_length + 33 > record_length) return kErrorBadFormat;
    uint8_t const* id = record + 33;
    if (id_length == 0 || (id_length == 1 && (id[0] == 0 || id[0] == 1))) continue;

    bool const interleaved = record[26] != 0 || record[27] != 0;
    uint32_t const location = BigEndian32(record + 6);
    uint32_t const data_length = BigEndian32(record + 14);
    uint8_t const attribute_length = record[1];

    if (previous != nullptr && id_length == previous_length && memcmp(id, previous_id, id_length) == 0) {
      // A further section of a file recorded in several extents.
      if (!interleaved) {
        error = volume_.append_extent(previous, location, SectorsFor(data_length));
        if (error != kOk) return error;
        previous->size += data_length;
      }
      continue;
    }

    bool const folder_record = (record[25] & 0x02) != 0;
    size_t const full_length = DecodeName(id, id_length, encoding_, name);
    size_t length = full_length;
    if (!folder_record && descriptor_class_ != kEnhanced) {
      length = WithoutVersion(name, full_length);
      // A name that the shortening would make clash keeps its suffix.
      if (length != full_length && volume_.find_child(folder, name, length) != nullptr) length = full_length;
    }
    MediaNode* node = nullptr;
    error = volume_.add_child(folder, name, length, folder_record ? kMediaKindFolder : kMediaKindFile,
                              position + 1, this, &node);
    if (error != kOk) return error;

    if (attribute_length >= 250) {
      auto* pending = new (std::nothrow) PendingRead;
      if (pending != nullptr) {
        pending->node = node;
        pending->position = uint64_t{location} * kMediaSectorSize;
        volume_.queue_pending(pending);
      }
    }
    if (!interleaved) {
      // Interleaved files are listed without data: their sectors alternate
      // with gaps this reader does not follow.
      node->last_write_time = IsoShortDateToFileTime(record + 18);
      node->size = data_length;
      MediaVolumeCore::set_first_extent(node, location + (attribute_length != 0 ? 1 : 0), SectorsFor(data_length));
    }
    previous = node;
    previous_length = id_length;
    memcpy(previous_id, id, id_length);
  }
}

ErrorCode MakeVolumeRoot(MediaVolumeCore& volume, const uint8_t* d, int descriptor_class, uint64_t position,
                         const char* name) {
  uint8_t encoding = descriptor_class == kEnhanced ? kUtf8 : kCodePage;
  if (descriptor_class != kPrimary && d[88] != 0) {
    encoding = EncodingOfEscapes(d + 88);
    if (encoding == 0) return kOk;  // a character set this reader does not know
  }
  auto* reader = new (std::nothrow) IsoReader(volume, descriptor_class, encoding);
  if (reader == nullptr) return kErrorOutOfMemory;
  reader->creation_time_ = IsoLongDateToFileTime(d + 813);
  reader->label_ = DecodeLabel(d + 40, encoding);

  MediaNode* node = nullptr;
  ErrorCode const error = volume.make_volume_root(name, position, reader, &node);
  if (error != kOk) {
    reader->release();
    return error;
  }
  node->last_write_time = IsoLongDateToFileTime(d + 830);
  node->creation_time = reader->creation_time_;
  uint8_t const* root = d + 156;
  uint32_t const size = BigEndian32(root + 14);
  node->size = size;
  MediaVolumeCore::set_first_extent(node, BigEndian32(root + 6) + (root[1] != 0 ? 1 : 0), SectorsFor(size));
  return kOk;
}

}  // namespace

uint64_t IsoLongDateToFileTime(const uint8_t* date) {
  auto digits = [date](int at, int count) {
    int value = 0;
    for (int i = 0; i < count; ++i) value = value * 10 + (date[at + i] - 0x30);
    return static_cast<uint16_t>(value);
  };
  // Fields wrap to 16 bits as the platform's calendar record would.
  CalendarTime const time{digits(0, 4), digits(4, 2),  digits(6, 2), digits(8, 2),
                          digits(10, 2), digits(12, 2), static_cast<uint16_t>(digits(14, 2) * 10)};
  return CalendarToUtcFileTime(time, static_cast<int8_t>(date[16]) * 15);
}

uint64_t IsoShortDateToFileTime(const uint8_t* date) {
  CalendarTime const time{1900u + date[0], date[1], date[2], date[3], date[4], date[5], 0};
  return CalendarToUtcFileTime(time, static_cast<int8_t>(date[6]) * 15);
}

ErrorCode scan_volume_descriptors(MediaVolumeCore& volume, uint8_t* buffer, bool* udf_present) {
  *udf_present = false;
  SectorDevice* device = volume.device();
  uint32_t const sessions = device->session_count();
  ErrorCode error = kOk;
  for (uint32_t s = 0; error == kOk && s < (sessions == 0 ? 1 : sessions); ++s) {
    uint64_t const start = sessions == 0 ? 0 : device->session_offset(s);
    uint32_t number = 0;
    for (uint32_t sector = 16; sector < 66; ++sector) {
      uint64_t const position = start + uint64_t{sector} * kMediaSectorSize;
      if (device->read(position, buffer, kMediaSectorSize) != kOk) break;
      int const descriptor_class = ClassifyDescriptor(buffer);
      if (descriptor_class == kEndOfSet) break;
      if (descriptor_class == kPassedOver) continue;
      ++number;
      if (descriptor_class == kUdfPresent) {
        *udf_present = true;
        continue;
      }
      char name[48];
      if (sessions > 1) {
        snprintf(name, sizeof name, "session%02uvolume%02u", static_cast<unsigned>(s + 1),
                 static_cast<unsigned>(number));
      } else {
        snprintf(name, sizeof name, "volume%02u", static_cast<unsigned>(number));
      }
      name[19] = '\0';  // names are cut to 19 characters
      error = MakeVolumeRoot(volume, buffer, descriptor_class, position, name);
      if (error != kOk) break;
    }
  }
  return volume.root() != nullptr ? kOk : error;
}

}  // namespace sm
