#include "os/listing.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/pool.h"
#include "base/text.h"
#include "os/dir_records.h"
#include "os/file.h"
#include "os/native.h"
#include "os/path.h"

namespace sm {
namespace {

constexpr uint32_t kRecordBufferBytes = 61440;

std::atomic<bool> force_fallback{false};

char16_t load_unit(const DirRecord& record, size_t index) {
  char16_t unit;
  memcpy(&unit, record.name + 2 * index, sizeof unit);
  return unit;
}

ErrorCode describe_handle(FileHandle handle, FileInfo* info) {
  uint32_t tag = 0;
  ErrorCode result = native::query_file_info(handle, info, &tag);
  if (result == kOk) file_info_derive(info, tag);
  return result;
}

class FolderListing final : public Listing {
 public:
  explicit FolderListing(uint32_t flags) : flags_(flags) {}

  ErrorCode open(const char16_t* folder);
  void release() override;
  ErrorCode next(const char16_t** path, size_t* name_offset, const FileInfo** info) override;

 private:
  ~FolderListing() {
    handle_close(handle_);
    free(path_);
  }
  ErrorCode refill();
  bool reserve_path(size_t needed);

  uint32_t flags_;
  FileHandle handle_ = kInvalidFileHandle;
  ErrorCode end_ = kOk;  // why the handle was closed, repeated by later calls
  FileInfo folder_info_{};
  char16_t* path_ = nullptr;
  size_t path_capacity_ = 0;
  size_t folder_length_ = 0;
  uint32_t read_position_ = 0;
  uint32_t filled_ = 0;
  uint32_t info_class_ = native::kClassIdExtendedDirectory;
  DirRecordDecoder decode_ = decode_extended_id_record;
  bool class_settled_ = false;
  FileInfo current_{};
  FileInfo target_{};
  alignas(8) uint8_t records_[kRecordBufferBytes];
};

ErrorCode FolderListing::open(const char16_t* folder) {
  ScratchPool pool;
  const char16_t* full = path_full(pool, nullptr, folder);
  ErrorCode result = full ? kOk : (pool.failures ? kErrorOutOfMemory : kErrorInvalidName);
  if (result == kOk) {
    size_t length = TextLen(full);
    if (!reserve_path(length + (length + 5) / 4 + 50)) {
      result = kErrorOutOfMemory;
    } else {
      memcpy(path_, full, length * sizeof(char16_t));
      if (length == 0 || !is_path_separator(path_[length - 1])) path_[length++] = u'\\';
      path_[length] = 0;
      folder_length_ = length;
      result = nt_open(full, kAccessBaseRead | kAccessReadData, kShareAll, 0, kDispositionOpen,
                       kOptionFolder | kOptionSynchronous, &handle_);
    }
  }
  if (result == kOk) result = describe_handle(handle_, &folder_info_);
  pool.ReleaseAll();
  return result;
}

bool FolderListing::reserve_path(size_t needed) {
  if (needed < path_capacity_) return true;
  size_t capacity = path_ ? (needed * 5) / 4 + needed + 50 : needed;
  auto* grown = static_cast<char16_t*>(realloc(path_, capacity * sizeof(char16_t)));
  if (!grown) return false;
  path_ = grown;
  path_capacity_ = capacity;
  return true;
}

ErrorCode FolderListing::refill() {
  read_position_ = 0;
  filled_ = 0;
  if (!class_settled_ && force_fallback.load(std::memory_order_relaxed)) {
    info_class_ = native::kClassIdFullDirectory;
    decode_ = decode_full_id_record;
  }
  ErrorCode result = native::query_directory(handle_, records_, kRecordBufferBytes, info_class_, &filled_);
  if (result != kOk && !class_settled_ && info_class_ == native::kClassIdExtendedDirectory) {
    // Older systems (and Wine) lack the extended-identifier records.
    info_class_ = native::kClassIdFullDirectory;
    decode_ = decode_full_id_record;
    result = native::query_directory(handle_, records_, kRecordBufferBytes, info_class_, &filled_);
  }
  class_settled_ = true;
  if (result == kOk && filled_ == 0) result = kErrorNoMoreFiles;
  return result;
}

ErrorCode FolderListing::next(const char16_t** path, size_t* name_offset, const FileInfo** info) {
  if (path) *path = nullptr;
  if (name_offset) *name_offset = 0;
  if (info) *info = nullptr;
  DirRecord record{};
  for (;;) {
    if (is_no_handle(handle_)) return end_ ? end_ : kErrorNoMoreFiles;
    if (read_position_ >= filled_ || !decode_(records_, filled_, read_position_, &record)) {
      ErrorCode result = refill();
      if (result != kOk) {
        handle_close(handle_);
        handle_ = kInvalidFileHandle;
        end_ = result;
        return result;
      }
      continue;
    }
    read_position_ = record.next_offset ? read_position_ + record.next_offset : filled_;
    bool dot = record.name_units == 1 && load_unit(record, 0) == u'.';
    bool dot_dot = record.name_units == 2 && load_unit(record, 0) == u'.' && load_unit(record, 1) == u'.';
    if (record.name_units == 0 || dot || dot_dot) continue;
    break;
  }

  if (!reserve_path(folder_length_ + record.name_units + 1)) return kErrorOutOfMemory;
  memcpy(path_ + folder_length_, record.name, record.name_units * sizeof(char16_t));
  path_[folder_length_ + record.name_units] = 0;

  current_ = record.info;
  current_.volume_serial = folder_info_.volume_serial;
  file_info_derive(&current_, record.reparse_tag);

  const FileInfo* chosen = &current_;
  if (current_.is_link && !(flags_ & LISTING_LINKS_AS_THEMSELVES)) {
    if (flags_ & LISTING_LINKS_WITHOUT_INFO) {
      chosen = nullptr;
    } else if (path_get_info(path_, true, &target_) == kOk) {
      target_.reached_through_link = 1;
      chosen = &target_;
    } else {
      current_.link_target_unreachable = 1;
    }
  }
  if (path) *path = path_;
  if (name_offset) *name_offset = folder_length_;
  if (info) *info = chosen;
  return kOk;
}

void FolderListing::release() { delete this; }

}  // namespace

ErrorCode path_get_info(const char16_t* path, bool follow_links, FileInfo* info) {
  FileInfo local{};
  if (!info) info = &local;
  *info = FileInfo{};
  if (!path) return kErrorOutOfMemory;
  if (!path[0]) return kErrorInvalidName;
  uint32_t options = kOptionSynchronous | (follow_links ? 0 : kOptionOpenReparsePoint);
  FileHandle handle = kInvalidFileHandle;
  ErrorCode result = nt_open(path, kAccessBaseRead, kShareAll, kAttributeHidden | kAttributeSystem,
                             kDispositionOpen, options, &handle);
  if (result != kOk) return result;
  result = describe_handle(handle, info);
  handle_close(handle);
  return result;
}

ErrorCode listing_open(Listing** listing, const char16_t* folder, uint32_t flags) {
  *listing = nullptr;
  auto* created = new (std::nothrow) FolderListing(flags);
  if (!created) return kErrorOutOfMemory;
  ErrorCode result = created->open(folder);
  if (result != kOk) {
    created->release();
    return result;
  }
  *listing = created;
  return kOk;
}

ErrorCode listing_next(Listing* listing, const char16_t** path, size_t* name_offset, const FileInfo** info) {
  return listing->next(path, name_offset, info);
}

void listing_release(Listing* listing) {
  if (listing) listing->release();
}

void listing_force_fallback_class(bool force) { force_fallback.store(force); }

}  // namespace sm
