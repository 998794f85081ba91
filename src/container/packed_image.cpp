// The packed image device: finds the parts of a packed image, authenticates
// its trailer and tables, and serves reads through a six-block cache.
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/glob.h"
#include "container/decompress.h"
#include "container/hash.h"
#include "container/packed_format.h"
#include "container/packed_files.h"
#include "container/registry.h"

namespace sm {

namespace {


constexpr uint32_t kOpenReadShared = packed_files::kReadShared;
constexpr uint32_t kOpenReadDenyWrite = packed_files::kReadDenyWrite;

constexpr uint32_t kCacheEntries = 6;
constexpr uint32_t kScratchSize = 262144;
constexpr uint32_t kScanPrefix = 4096;
constexpr uint32_t kHashPiece = 131072;
// A part index beyond this cannot come from a real image; such a header would
// only make the part table huge.
constexpr uint32_t kMaxPartCount = 1u << 20;

// ---- file access -------------------------------------------------------------

ErrorCode io_open(const char16_t* path, uint32_t flags, FileHandle* handle) {
  return packed_files::open(path, flags, handle);
}

void io_close(FileHandle handle) { packed_files::close(handle); }

ErrorCode io_size(FileHandle handle, uint64_t* size) { return packed_files::size(handle, size); }

ErrorCode io_read_at(FileHandle handle, uint64_t offset, void* buffer, uint32_t length, uint32_t* got) {
  return packed_files::read_at(handle, offset, buffer, length, got);
}

bool scan_read(void* context, uint64_t offset, uint8_t* buffer, uint32_t length) {
  uint32_t got = 0;
  return io_read_at(*static_cast<FileHandle*>(context), offset, buffer, length, &got) == kOk && got == length;
}

// Carrier scan of an open file: the first bytes are read here, the rest on demand.
ErrorCode scan_file(FileHandle handle, const uint8_t* prefix, uint32_t prefix_length, CarrierInfo* info) {
  *info = CarrierInfo();
  uint64_t size = 0;
  ErrorCode e = io_size(handle, &size);
  if (e != kOk) return e;
  uint8_t own[kScanPrefix];
  if (prefix == nullptr || prefix_length < kScanPrefix) {
    uint32_t want = size < kScanPrefix ? uint32_t(size) : kScanPrefix;
    uint32_t got = 0;
    if (io_read_at(handle, 0, own, want, &got) != kOk) return kOk;  // unreadable: no carrier
    prefix = own;
    prefix_length = got;
  }
  packed_carrier_scan(prefix, prefix_length, size, scan_read, &handle, info);
  return kOk;
}

char16_t* copy_text(const char16_t* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  auto* copy = static_cast<char16_t*>(malloc((n + 1) * sizeof(char16_t)));
  if (copy != nullptr) memcpy(copy, text, (n + 1) * sizeof(char16_t));
  return copy;
}

bool trailer_acceptable(const uint8_t bytes[kPackedTrailerSize], const uint8_t image_id[16], PackedTrailer* t) {
  return packed_trailer_decode(bytes, t) && memcmp(t->image_id, image_id, 16) == 0 &&
         packed_version_readable(t->version, t->min_reader_version) && packed_image_type_is_iso(t->image_type);
}

struct PartEntry {
  char16_t* path;
  FileHandle handle;
  uint64_t data_start;
  uint64_t part_end;
  uint64_t logical_start;
};

struct CacheEntry {
  CacheEntry* next;
  ErrorCode result;
  bool verified_only;
  uint64_t start, end;
  uint8_t* bytes;
};

struct PatchEntry {
  uint64_t start, end;
  const uint8_t* payload;
};

constexpr uint32_t kNoIndex = UINT32_MAX;

class PackedImageDevice final : public SectorDevice {
 public:
  PackedImageDevice() = default;

  void release() override { delete this; }
  ErrorCode load(PasswordProvider* passwords) override;
  uint32_t sector_size() override { return kSectorSize; }
  uint64_t total_size() override { return image_size_; }
  uint32_t session_count() override { return 0; }
  uint64_t session_offset(uint32_t) override { return 0; }
  ErrorCode read(uint64_t offset, void* buffer, uint32_t length) override;
  void close_files() override;

  char16_t* path_ = nullptr;
  uint8_t image_id_[16] = {};
  uint8_t set_id_[16] = {};

  void summarize(PackedImageSummary* s) const {
    *s = {image_size_, block_count_, block_size_, trailer_.compression_method, trailer_.digest_method, part_count_,
          missing_};
  }
  const char16_t* part_path(uint32_t index) const { return index < part_count_ ? parts_[index].path : nullptr; }

 private:
  ~PackedImageDevice() override;

  ErrorCode add_part(const char16_t* path, FileHandle handle, uint64_t header_position, uint64_t region_end,
                     uint32_t expected, uint32_t* index);
  ErrorCode find_parts();
  ErrorCode search_part_files(bool first_has_certificates);
  ErrorCode lay_out_parts();
  ErrorCode read_tail_records();
  ErrorCode part_read(uint64_t position, uint8_t* buffer, uint64_t length);
  ErrorCode read_direct(uint64_t offset, uint8_t* buffer, uint32_t length);
  ErrorCode load_block(CacheEntry* entry, uint64_t index, bool with_buffer);
  void apply_patches(uint64_t offset, uint8_t* buffer, uint32_t length);
  static ErrorCode collect_patch(void* context, const PackedMetadataRecord& record);

  PartEntry* parts_ = nullptr;
  uint32_t part_count_ = 0;
  uint32_t missing_ = 0;

  uint8_t trailer_bytes_[kPackedTrailerSize] = {};
  PackedTrailer trailer_;
  bool trailer_found_ = false;
  uint64_t trailer_end_ = 0;
  uint64_t last_region_end_ = 0;
  uint8_t* key_record_ = nullptr;

  uint64_t block_count_ = 0;
  uint32_t block_size_ = 0;
  uint32_t last_block_bytes_ = 0;
  uint32_t metadata_size_ = 0;
  uint64_t image_size_ = 0;
  uint64_t stream_length_ = 0;

  BlockChecksum* digest_ = nullptr;
  uint32_t digest_size_ = 0;
  Decompressor* decompressor_ = nullptr;
  uint64_t* block_offsets_ = nullptr;
  uint8_t* digest_table_ = nullptr;
  uint8_t* metadata_ = nullptr;
  PatchEntry* patches_ = nullptr;
  uint32_t patch_count_ = 0;
  uint32_t patch_capacity_ = 0;
  uint8_t* staging_ = nullptr;
  uint8_t* scratch_ = nullptr;
  CacheEntry* cache_ = nullptr;
};

PackedImageDevice::~PackedImageDevice() {
  free(path_);
  for (uint32_t i = 0; i < part_count_; ++i) {
    free(parts_[i].path);
    io_close(parts_[i].handle);
  }
  free(parts_);
  free(key_record_);
  if (decompressor_ != nullptr) decompressor_->release();
  if (digest_ != nullptr) digest_->release();
  free(block_offsets_);
  free(digest_table_);
  free(metadata_);
  free(patches_);
  free(staging_);
  free(scratch_);
  while (cache_ != nullptr) {
    CacheEntry* next = cache_->next;
    free(cache_);
    cache_ = next;
  }
}

// ---- finding the parts ---------------------------------------------------------

ErrorCode PackedImageDevice::add_part(const char16_t* path, FileHandle handle, uint64_t header_position,
                                      uint64_t region_end, uint32_t expected, uint32_t* index) {
  *index = kNoIndex;
  if (handle == kInvalidFileHandle) {
    if (io_open(path, kOpenReadDenyWrite, &handle) != kOk) handle = kInvalidFileHandle;
  }
  uint8_t header_bytes[kPackedHeaderSize] = {};
  uint64_t data_start = header_position;
  bool valid = handle != kInvalidFileHandle;
  if (valid && region_end == 0) valid = io_size(handle, &region_end) == kOk;
  if (valid && region_end >= header_position && region_end - header_position >= kPackedHeaderSize) {
    uint32_t got = 0;
    if (io_read_at(handle, header_position, header_bytes, kPackedHeaderSize, &got) != kOk) {
      memset(header_bytes, 0, sizeof header_bytes);
    } else if (got < kPackedHeaderSize) {
      memset(header_bytes + got, 0, kPackedHeaderSize - got);
    }
    data_start = header_position + kPackedHeaderSize;
  }
  PackedHeader header;
  valid = valid && region_end % kPackedAlign == 0 && packed_header_decode(header_bytes, &header) &&
          memcmp(header.image_id, image_id_, 16) == 0 && memcmp(header.set_id, set_id_, 16) == 0;
  uint32_t k = header.part_index;
  if (valid) {
    if (expected != kNoIndex) {
      valid = k == expected;
    } else {
      valid = k >= part_count_ || parts_[k].path == nullptr;
      if (trailer_found_) valid = valid && k < part_count_;
    }
  }
  if (!valid) {
    io_close(handle);
    return kOk;
  }
  if (k >= part_count_) {
    if (k >= kMaxPartCount) {
      io_close(handle);
      return kErrorOutOfMemory;
    }
    auto* grown = static_cast<PartEntry*>(realloc(parts_, (size_t(k) + 1) * sizeof(PartEntry)));
    if (grown == nullptr) {
      io_close(handle);
      return kErrorOutOfMemory;
    }
    parts_ = grown;
    for (uint32_t i = part_count_; i <= k; ++i) parts_[i] = PartEntry{nullptr, kInvalidFileHandle, 0, 0, 0};
    missing_ += k + 1 - part_count_;
    part_count_ = k + 1;
  }
  uint64_t part_end = region_end;
  if (!trailer_found_ && region_end >= data_start && region_end - data_start >= kPackedTrailerSize &&
      k == part_count_ - 1) {
    last_region_end_ = region_end;
    trailer_end_ = region_end;
    uint8_t bytes[kPackedTrailerSize];
    uint32_t got = 0;
    PackedTrailer t;
    if (io_read_at(handle, region_end - kPackedTrailerSize, bytes, kPackedTrailerSize, &got) == kOk &&
        got == kPackedTrailerSize && trailer_acceptable(bytes, image_id_, &t)) {
      trailer_found_ = true;
    } else {
      uint8_t locator[kPackedLocatorSize];
      uint64_t distance = 0;
      if (io_read_at(handle, region_end - kPackedLocatorSize, locator, kPackedLocatorSize, &got) == kOk &&
          got == kPackedLocatorSize && packed_locator_decode(locator, image_id_, &distance) &&
          distance <= region_end) {
        uint64_t end = region_end - distance;
        if (end % kPackedAlign == 0 && end >= data_start + kPackedTrailerSize && end < region_end &&
            io_read_at(handle, end - kPackedTrailerSize, bytes, kPackedTrailerSize, &got) == kOk &&
            got == kPackedTrailerSize && trailer_acceptable(bytes, image_id_, &t)) {
          trailer_found_ = true;
          trailer_end_ = end;
        }
      }
    }
    if (trailer_found_) {
      memcpy(trailer_bytes_, bytes, kPackedTrailerSize);
      trailer_ = t;
      part_end = trailer_end_ - kPackedTrailerSize;
    }
  }
  PartEntry& entry = parts_[k];
  if (entry.path == nullptr) {
    entry.path = copy_text(path);
    if (entry.path == nullptr) {
      io_close(handle);
      return kErrorOutOfMemory;
    }
    --missing_;
  } else {
    io_close(entry.handle);
  }
  entry.handle = handle;
  entry.data_start = data_start;
  entry.part_end = part_end;
  entry.logical_start = header.logical_start;
  *index = k;
  return kOk;
}

ErrorCode PackedImageDevice::find_parts() {
  FileHandle handle = kInvalidFileHandle;
  CarrierInfo info;
  uint32_t index = kNoIndex;
  ErrorCode e;
  if (io_open(path_, kOpenReadShared, &handle) != kOk) handle = kInvalidFileHandle;
  if (handle != kInvalidFileHandle) scan_file(handle, nullptr, 0, &info);
  const bool certificates = info.kind != CarrierKind::kNone && info.cert_start != 0;
  if (info.kind == CarrierKind::kNone) {
    e = add_part(path_, handle, 0, 0, kNoIndex, &index);
  } else {
    uint64_t position = packed_header_position(info);
    e = add_part(path_, handle, position, packed_round_down(info.cert_start, kPackedAlign), kNoIndex, &index);
    if (certificates) {
      // A signed executable must hold the trailer itself; parts outside it are
      // only trusted when SHA-256 digests bind them.
      if (e != kOk) return e;
      if (!trailer_found_) return kErrorBadFormat;
      if (missing_ != 0) {
        if (trailer_.digest_method != kPackedDigestSha256) return kErrorBadFormat;
        uint64_t secondary = packed_round_up(info.secondary, kPackedAlign);
        if (secondary != 0 && secondary != position) e = add_part(path_, kInvalidFileHandle, secondary, 0, 0, &index);
      }
    }
  }
  if (e != kOk) return e;
  if (missing_ != 0 || !trailer_found_) {
    e = search_part_files(certificates);
    if (e != kOk) return e;
  }
  if (!trailer_found_) return kErrorEndOfFile;
  e = lay_out_parts();
  if (e != kOk) return e;
  return read_tail_records();
}

ErrorCode PackedImageDevice::search_part_files(bool first_has_certificates) {
  size_t n = 0;
  while (path_[n] != 0) ++n;
  size_t slash = n;
  for (size_t i = n; i > 0; --i) {
    if (path_[i - 1] == u'\\') {
      slash = i - 1;
      break;
    }
  }
  if (slash == n) return kOk;
  // "<full path>.*" split at its last backslash: the folder and the name pattern.
  auto* buffer = static_cast<char16_t*>(malloc((n + 3) * sizeof(char16_t)));
  if (buffer == nullptr) return kErrorOutOfMemory;
  memcpy(buffer, path_, n * sizeof(char16_t));
  buffer[n] = u'.';
  buffer[n + 1] = u'*';
  buffer[n + 2] = 0;
  buffer[slash] = 0;
  const char16_t* folder = slash == 0 ? u"\\" : buffer;
  const char16_t* pattern = buffer + slash + 1;

  packed_files::Listing* listing = nullptr;
  ErrorCode result = kOk;
  if (packed_files::listing_open(folder, &listing) == kOk) {
    while (missing_ != 0 || !trailer_found_) {
      const char16_t* entry_path = nullptr;
      uint32_t name_offset = 0;
      bool is_folder = false;
      if (packed_files::listing_next(listing, &entry_path, &name_offset, &is_folder) != kOk) break;
      if (is_folder || !GlobMatchAscii(pattern, entry_path + name_offset)) continue;
      FileHandle handle = kInvalidFileHandle;
      if (io_open(entry_path, kOpenReadShared, &handle) != kOk) continue;
      CarrierInfo info;
      scan_file(handle, nullptr, 0, &info);
      uint32_t index = kNoIndex;
      ErrorCode e = kOk;
      if (info.kind != CarrierKind::kNone) {
        uint64_t position = packed_header_position(info);
        e = add_part(entry_path, handle, position, packed_round_down(info.cert_start, kPackedAlign), kNoIndex,
                     &index);
        uint64_t secondary = packed_round_up(info.secondary, kPackedAlign);
        if (e == kOk && index != kNoIndex && secondary > position) {
          uint32_t again = kNoIndex;
          e = add_part(entry_path, kInvalidFileHandle, secondary, 0, index, &again);
        }
      } else if (!first_has_certificates) {
        e = add_part(entry_path, handle, 0, 0, kNoIndex, &index);
      } else {
        io_close(handle);
      }
      if (e != kOk) {
        result = e;
        break;
      }
    }
    packed_files::listing_release(listing);
  }
  free(buffer);
  return result;
}

ErrorCode PackedImageDevice::lay_out_parts() {
  uint64_t position = 0;
  bool after_missing = false;
  for (uint32_t i = 0; i < part_count_; ++i) {
    PartEntry& e = parts_[i];
    if (e.path == nullptr) {
      e.logical_start = position;
      after_missing = true;
      continue;
    }
    if (after_missing) {
      if (e.logical_start % kPackedAlign != 0 || e.logical_start < position) return kErrorBadFormat;
    } else if (e.logical_start != position) {
      return kErrorBadFormat;
    }
    after_missing = false;
    uint64_t length = e.part_end - e.data_start;
    if (e.part_end < e.data_start || e.logical_start > UINT64_MAX - length) return kErrorBadFormat;
    position = e.logical_start + length;
  }
  stream_length_ = position;
  return kOk;
}

ErrorCode PackedImageDevice::read_tail_records() {
  PartEntry& last = parts_[part_count_ - 1];
  if (last.handle == kInvalidFileHandle) {
    ErrorCode e = io_open(last.path, kOpenReadDenyWrite, &last.handle);
    if (e != kOk) return e;
  }
  uint64_t at = trailer_end_;
  while (at < last_region_end_ && last_region_end_ - at >= 17) {
    uint8_t head_bytes[kPackedTailHeadSize];
    uint32_t got = 0;
    ErrorCode e = io_read_at(last.handle, at, head_bytes, kPackedTailHeadSize, &got);
    if (e != kOk) return e;
    if (got != kPackedTailHeadSize) return kErrorEndOfFile;
    PackedTailHead head;
    if (!packed_tail_head_decode(head_bytes, &head) || head.length % kPackedAlign != 0 ||
        head.length <= kPackedTailHeadSize || head.length > last_region_end_ - at) {
      return kErrorBadFormat;
    }
    if (head.type == kPackedTailKey && key_record_ == nullptr) {
      key_record_ = static_cast<uint8_t*>(malloc(head.length));
      if (key_record_ == nullptr) return kErrorOutOfMemory;
      e = io_read_at(last.handle, at, key_record_, head.length, &got);
      if (e != kOk) return e;
      if (got != head.length) return kErrorEndOfFile;
    }
    at += head.length;
  }
  return kOk;
}

// ---- load ----------------------------------------------------------------------

ErrorCode PackedImageDevice::collect_patch(void* context, const PackedMetadataRecord& record) {
  auto* self = static_cast<PackedImageDevice*>(context);
  if (memcmp(record.tag, kPackedPatchTag, 4) != 0) return kOk;
  if (self->patch_count_ == self->patch_capacity_) {
    uint32_t capacity = self->patch_capacity_ + self->patch_capacity_ / 4 + 3;
    auto* grown = static_cast<PatchEntry*>(realloc(self->patches_, size_t(capacity) * sizeof(PatchEntry)));
    if (grown == nullptr) return kErrorOutOfMemory;
    self->patches_ = grown;
    self->patch_capacity_ = capacity;
  }
  self->patches_[self->patch_count_++] = PatchEntry{record.position, record.position + record.length, record.payload};
  return kOk;
}

ErrorCode PackedImageDevice::load(PasswordProvider*) {
  ErrorCode e = find_parts();
  if (e != kOk) return e;

  switch (trailer_.digest_method) {
    case kPackedDigestNone:
      break;
    case kPackedDigestCrc32:
      e = create_crc32_checksum(&digest_);
      break;
    case kPackedDigestSha256:
      e = create_sha256_checksum(&digest_);
      break;
    default:
      return kErrorUnknownRevision;
  }
  if (e != kOk) return e;
  digest_size_ = digest_ != nullptr ? digest_->digest_size() : 0;
  if (trailer_.cipher_method != 0) return kErrorUnknownRevision;

  block_count_ = trailer_.block_count;
  block_size_ = trailer_.block_size;
  last_block_bytes_ = trailer_.last_block_bytes;
  metadata_size_ = trailer_.metadata_size;
  if (block_size_ % kPackedAlign != 0 || block_size_ < kPackedMinBlockSize || block_size_ > kPackedMaxBlockSize ||
      last_block_bytes_ < 1 || last_block_bytes_ > block_size_ || block_count_ < 1 ||
      metadata_size_ % kPackedAlign != 0) {
    return kErrorBadFormat;
  }
  if (block_count_ >= kPackedMaxBlockCount) return kErrorUnknownRevision;
  image_size_ = (block_count_ - 1) * block_size_ + last_block_bytes_;

  switch (trailer_.compression_method) {
    case kPackedCompressionNone:
      break;
    case kPackedCompressionDeflate:
      e = create_deflate_decompressor(&decompressor_);
      break;
    case kPackedCompressionLzma:
      e = create_lzma_decompressor(trailer_.lzma_properties, block_size_, &decompressor_);
      break;
    default:
      return kErrorUnknownRevision;
  }
  if (e != kOk) return e;

  uint64_t digest_table_size = digest_ != nullptr ? packed_round_up(block_count_ * digest_size_, kPackedAlign) : 0;
  uint64_t index_size = decompressor_ != nullptr ? packed_round_up(block_count_ * 4, kPackedAlign) : 0;
  if (digest_table_size > UINT32_MAX || index_size > UINT32_MAX) return kErrorUnknownRevision;
  // The tables must fit in the data stream before anything is allocated for
  // them: their sizes come from the file.
  uint64_t tables = digest_table_size + index_size + metadata_size_;
  if (tables > stream_length_) return kErrorBadFormat;
  uint64_t tables_start = stream_length_ - tables;

  uint8_t* index = nullptr;
  if (digest_table_size != 0 && (digest_table_ = static_cast<uint8_t*>(malloc(digest_table_size))) == nullptr) {
    return kErrorOutOfMemory;
  }
  if (index_size != 0 && (index = static_cast<uint8_t*>(malloc(index_size))) == nullptr) return kErrorOutOfMemory;
  if (metadata_size_ != 0 && (metadata_ = static_cast<uint8_t*>(malloc(metadata_size_))) == nullptr) {
    free(index);
    return kErrorOutOfMemory;
  }

  if (digest_ != nullptr) digest_->reset();
  struct Table {
    uint8_t* bytes;
    uint64_t size;
  } const parts[3] = {{digest_table_, digest_table_size}, {index, index_size}, {metadata_, metadata_size_}};
  uint64_t at = tables_start;
  for (const Table& t : parts) {
    if (t.size == 0) continue;
    e = part_read(at, t.bytes, t.size);
    if (e != kOk) {
      free(index);
      return e;
    }
    if (digest_ != nullptr) digest_->update(t.bytes, uint32_t(t.size));
    at += t.size;
  }
  if (digest_ != nullptr) {
    digest_->update(trailer_bytes_ + kPackedTrailerDigestedStart,
                    kPackedTrailerDigestedEnd - kPackedTrailerDigestedStart);
    uint8_t computed[64];
    digest_->finish(computed);
    if (memcmp(computed, trailer_bytes_ + kPackedTrailerDigestOffset, digest_size_) != 0) {
      free(index);
      return kErrorBadFormat;
    }
  }

  if (decompressor_ != nullptr) {
    if ((block_count_ + 1) * sizeof(uint64_t) > UINT32_MAX) {
      free(index);
      return kErrorUnknownRevision;
    }
    block_offsets_ = static_cast<uint64_t*>(malloc(size_t(block_count_ + 1) * sizeof(uint64_t)));
    if (block_offsets_ == nullptr) {
      free(index);
      return kErrorOutOfMemory;
    }
    uint64_t sum = 0;
    block_offsets_[0] = 0;
    for (uint64_t i = 0; i < block_count_; ++i) {
      uint32_t stored = packed_get32(index + i * 4);
      if (stored % kPackedAlign != 0 || stored > block_size_) {
        free(index);
        return kErrorBadFormat;
      }
      sum += stored;
      block_offsets_[i + 1] = sum;
    }
    free(index);
    index = nullptr;
    if (tables + sum != stream_length_) return kErrorBadFormat;
  }

  if (metadata_size_ != 0) {
    e = packed_metadata_walk(metadata_, metadata_size_, collect_patch, this);
    if (e != kOk) return e;
  }
  if (decompressor_ != nullptr && (staging_ = static_cast<uint8_t*>(malloc(block_size_))) == nullptr) {
    return kErrorOutOfMemory;
  }
  // The list starts with empty ranges, so the entries are taken in list order.
  CacheEntry** link = &cache_;
  for (uint32_t i = 0; i < kCacheEntries; ++i) {
    auto* entry = static_cast<CacheEntry*>(malloc(sizeof(CacheEntry) + block_size_));
    if (entry == nullptr) return kErrorOutOfMemory;
    *entry = CacheEntry{nullptr, kOk, false, 0, 0, reinterpret_cast<uint8_t*>(entry + 1)};
    *link = entry;
    link = &entry->next;
  }
  return kOk;
}

// ---- reads ---------------------------------------------------------------------

ErrorCode PackedImageDevice::part_read(uint64_t position, uint8_t* buffer, uint64_t length) {
  uint32_t i = 0;
  while (length > 0) {
    if (i >= part_count_) return kErrorEndOfFile;
    PartEntry& e = parts_[i];
    if (position < e.logical_start) return kErrorEndOfFile;
    uint64_t relative = position - e.logical_start;
    if (relative >= e.part_end - e.data_start || e.part_end <= e.data_start) {
      ++i;
      continue;
    }
    uint64_t offset = e.data_start + relative;
    uint64_t chunk = e.part_end - offset;
    if (chunk > length) chunk = length;
    if (e.handle == kInvalidFileHandle) {
      ErrorCode err = io_open(e.path, kOpenReadDenyWrite, &e.handle);
      if (err != kOk) {
        e.handle = kInvalidFileHandle;
        return err;
      }
    }
    while (chunk > 0) {
      uint32_t piece = chunk > 0x40000000u ? 0x40000000u : uint32_t(chunk);
      uint32_t got = 0;
      ErrorCode err = io_read_at(e.handle, offset, buffer, piece, &got);
      if (err != kOk) return err;
      if (got != piece) return kErrorEndOfFile;
      buffer += piece;
      offset += piece;
      position += piece;
      length -= piece;
      chunk -= piece;
    }
    ++i;
  }
  return kOk;
}

ErrorCode PackedImageDevice::read_direct(uint64_t offset, uint8_t* buffer, uint32_t length) {
  uint64_t inside = offset < image_size_ ? image_size_ - offset : 0;
  if (inside > length) inside = length;
  if (buffer == nullptr) {
    if (scratch_ == nullptr && (scratch_ = static_cast<uint8_t*>(malloc(kScratchSize))) == nullptr) {
      return kErrorOutOfMemory;
    }
    return inside == 0 ? kOk : part_read(offset, scratch_, inside > kScratchSize ? kScratchSize : inside);
  }
  if (inside != 0) {
    ErrorCode e = part_read(offset, buffer, inside);
    if (e != kOk) return e;
  }
  memset(buffer + inside, 0, length - size_t(inside));
  return kOk;
}

ErrorCode PackedImageDevice::load_block(CacheEntry* entry, uint64_t index, bool with_buffer) {
  entry->start = index * block_size_;
  entry->end = entry->start + block_size_;
  entry->verified_only = false;
  uint64_t stored_start, stored_size;
  if (decompressor_ != nullptr) {
    stored_start = block_offsets_[index];
    stored_size = block_offsets_[index + 1] - stored_start;
  } else {
    stored_start = index * block_size_;
    stored_size = block_size_;
  }
  if (stored_size == 0) {
    memset(entry->bytes, 0, block_size_);
    return kOk;
  }
  const bool staged = decompressor_ != nullptr && stored_size != block_size_;
  uint8_t* target = staged ? staging_ : entry->bytes;
  // Hashing each piece right after reading it finds the bytes still in the
  // processor's cache.
  if (digest_ != nullptr) digest_->reset();
  for (uint64_t done = 0; done < stored_size;) {
    uint64_t piece = stored_size - done < kHashPiece ? stored_size - done : kHashPiece;
    ErrorCode e = part_read(stored_start + done, target + done, piece);
    if (e != kOk) return e;
    if (digest_ != nullptr) digest_->update(target + done, uint32_t(piece));
    done += piece;
  }
  if (digest_ != nullptr) {
    uint8_t computed[64];
    digest_->finish(computed);
    if (memcmp(computed, digest_table_ + index * digest_size_, digest_size_) != 0) return kErrorBadFormat;
  }
  if (!staged) return kOk;
  if (!with_buffer && digest_ != nullptr) {
    entry->verified_only = true;
    return kOk;
  }
  return decompressor_->decompress(staging_, uint32_t(stored_size), entry->bytes, block_size_, nullptr);
}

void PackedImageDevice::apply_patches(uint64_t offset, uint8_t* buffer, uint32_t length) {
  uint64_t end = offset + length < offset ? UINT64_MAX : offset + length;
  for (uint32_t i = 0; i < patch_count_; ++i) {
    const PatchEntry& p = patches_[i];
    uint64_t from = p.start > offset ? p.start : offset;
    uint64_t to = p.end < end ? p.end : end;
    if (from >= to) continue;
    memcpy(buffer + (from - offset), p.payload + (from - p.start), size_t(to - from));
  }
}

ErrorCode PackedImageDevice::read(uint64_t offset, void* buffer_arg, uint32_t length) {
  auto* buffer = static_cast<uint8_t*>(buffer_arg);
  if (decompressor_ == nullptr && digest_ == nullptr) {
    ErrorCode e = read_direct(offset, buffer, length);
    if (e == kOk && buffer != nullptr) apply_patches(offset, buffer, length);
    return e;
  }
  uint64_t at = offset;
  uint32_t done = 0;
  while (done < length) {
    if (at >= image_size_) {
      if (buffer != nullptr) memset(buffer + done, 0, length - done);
      break;
    }
    CacheEntry* previous = nullptr;
    CacheEntry* entry = cache_;
    while (entry != nullptr && !(at >= entry->start && at < entry->end)) {
      previous = entry;
      entry = entry->next;
    }
    if (entry == nullptr) {
      // Least recently used: the last of the list.
      previous = nullptr;
      for (entry = cache_; entry->next != nullptr; entry = entry->next) previous = entry;
      entry->result = load_block(entry, at / block_size_, buffer != nullptr);
    } else if (buffer != nullptr && entry->verified_only) {
      entry->result = load_block(entry, at / block_size_, true);
    }
    if (previous != nullptr) {
      previous->next = entry->next;
      entry->next = cache_;
      cache_ = entry;
    }
    if (entry->result != kOk) return entry->result;
    uint64_t stop = entry->end;
    if (stop > image_size_) stop = image_size_;
    uint64_t n = stop - at;
    if (n > length - done) n = length - done;
    if (buffer != nullptr) memcpy(buffer + done, entry->bytes + (at - entry->start), size_t(n));
    at += n;
    done += uint32_t(n);
  }
  if (buffer != nullptr) apply_patches(offset, buffer, length);
  return kOk;
}

void PackedImageDevice::close_files() {
  for (uint32_t i = 0; i < part_count_; ++i) {
    io_close(parts_[i].handle);
    parts_[i].handle = kInvalidFileHandle;
  }
}

}  // namespace

// ---- probe ---------------------------------------------------------------------

ErrorCode packed_image_probe(SectorDevice** device, const char16_t* path, FileHandle handle, const uint8_t* header,
                             uint32_t header_length) {
  *device = nullptr;
  auto* d = new (std::nothrow) PackedImageDevice();
  if (d == nullptr) return kErrorOutOfMemory;
  ErrorCode e = kOk;
  CarrierInfo info;
  uint64_t size = 0;
  if (handle != kInvalidFileHandle && io_size(handle, &size) == kOk) {
    packed_carrier_scan(header, header_length, size, scan_read, &handle, &info);
  } else {
    packed_carrier_scan(header, header_length, header_length, nullptr, nullptr, &info);
  }
  uint64_t position = packed_header_position(info);
  uint8_t bytes[kPackedHeaderSize];
  if (position <= header_length && header_length - position >= kPackedHeaderSize) {
    memcpy(bytes, header + position, kPackedHeaderSize);
  } else if (position == 0 || handle == kInvalidFileHandle) {
    e = kErrorEndOfFile;
  } else {
    uint32_t got = 0;
    e = io_read_at(handle, position, bytes, kPackedHeaderSize, &got);
    if (e == kOk && got != kPackedHeaderSize) e = kErrorEndOfFile;
  }
  PackedHeader h;
  if (e == kOk && !packed_header_decode(bytes, &h)) e = kErrorBadFormat;
  if (e == kOk && (!packed_version_readable(h.version, h.min_reader_version) || !packed_image_type_is_iso(h.image_type))) {
    e = kErrorUnknownRevision;
  }
  if (e == kOk && position == 0 && h.part_index != 0) e = kErrorEndOfFile;
  if (e == kOk) {
    memcpy(d->image_id_, h.image_id, 16);
    memcpy(d->set_id_, h.set_id, 16);
    d->path_ = packed_files::full_path(path);
    if (d->path_ == nullptr) e = kErrorInvalidParameter;
  }
  if (e != kOk) {
    d->release();
    return e;
  }
  *device = d;
  return kOk;
}

void packed_image_summary(SectorDevice* device, PackedImageSummary* summary) {
  static_cast<PackedImageDevice*>(device)->summarize(summary);
}

const char16_t* packed_image_part_path(SectorDevice* device, uint32_t index) {
  return static_cast<PackedImageDevice*>(device)->part_path(index);
}

}  // namespace sm
