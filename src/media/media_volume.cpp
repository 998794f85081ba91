// The media volume: node tree, handle and cursor tables, pending queue,
// reads over extents, and the mount that puts them together.
#include "media/media_volume.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/text.h"
#include "container/sector_device.h"
#include "media/iso_reader.h"
#include "media/udf_reader.h"
#include "media/verify.h"
#include "media/volume_core.h"

namespace sm {

namespace {

MediaNode* NodeOfSibling(TreeNode* link) {
  if (link == nullptr) return nullptr;
  return reinterpret_cast<MediaNode*>(reinterpret_cast<char*>(link) - offsetof(MediaNode, sibling_link));
}

MediaNode* NodeOfHandle(TreeNode* link) {
  if (link == nullptr) return nullptr;
  return reinterpret_cast<MediaNode*>(reinterpret_cast<char*>(link) - offsetof(MediaNode, handle_link));
}

PendingRead* RecordOf(TreeNode* link) {
  if (link == nullptr) return nullptr;
  return reinterpret_cast<PendingLink*>(link)->record;
}

struct NameKey {
  const char* name;
  size_t length;
};

int CompareNameKey(const void* context, const TreeNode* link) {
  auto const* key = static_cast<const NameKey*>(context);
  MediaNode const* node = NodeOfSibling(const_cast<TreeNode*>(link));
  return CompareNodeNames(key->name, key->length, node->name, node->name_length);
}

// Equal names count as "after", so a new node follows every equal one.
int CompareNameKeyAfterEqual(const void* context, const TreeNode* link) {
  int const order = CompareNameKey(context, link);
  return order == 0 ? 1 : order;
}

// Handles order by their high half as a signed number, then their low half.
int CompareHandles(uint64_t a, uint64_t b) {
  auto const a_high = static_cast<int32_t>(a >> 32);
  auto const b_high = static_cast<int32_t>(b >> 32);
  if (a_high != b_high) return a_high < b_high ? -1 : 1;
  auto const a_low = static_cast<uint32_t>(a);
  auto const b_low = static_cast<uint32_t>(b);
  if (a_low != b_low) return a_low < b_low ? -1 : 1;
  return 0;
}

int CompareHandleKey(const void* context, const TreeNode* link) {
  return CompareHandles(*static_cast<const uint64_t*>(context), NodeOfHandle(const_cast<TreeNode*>(link))->handle);
}

int ComparePosition(const void* context, const TreeNode* link) {
  uint64_t const key = *static_cast<const uint64_t*>(context);
  uint64_t const position = RecordOf(const_cast<TreeNode*>(link))->position;
  return key < position ? -1 : key > position ? 1 : 0;
}

struct Cursor {
  TreeNode link;
  MediaNode* folder;
  MediaNode* next;  // null at the end of the listing
  uint64_t handle;
  uint64_t listing_id;
};

Cursor* CursorOf(TreeNode* link) {
  if (link == nullptr) return nullptr;
  return reinterpret_cast<Cursor*>(reinterpret_cast<char*>(link) - offsetof(Cursor, link));
}

struct CursorKey {
  uint64_t handle;
  uint64_t listing_id;
};

int CompareCursorKey(const void* context, const TreeNode* link) {
  auto const* key = static_cast<const CursorKey*>(context);
  Cursor const* cursor = CursorOf(const_cast<TreeNode*>(link));
  int const order = CompareHandles(key->handle, cursor->handle);
  if (order != 0) return order;
  return key->listing_id < cursor->listing_id ? -1 : key->listing_id > cursor->listing_id ? 1 : 0;
}

// Every cursor of one handle, whatever its listing id.
int CompareCursorHandle(const void* context, const TreeNode* link) {
  return CompareHandles(*static_cast<const uint64_t*>(context), CursorOf(const_cast<TreeNode*>(link))->handle);
}

bool IsMediaFolderName(const NameSlot& slot) {
  static constexpr char kName[] = ".$media";
  if (slot.utf8_name == nullptr || slot.utf8_length != sizeof(kName) - 1) return false;
  for (size_t i = 0; i < sizeof(kName) - 1; ++i) {
    char c = slot.utf8_name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kName[i]) return false;
  }
  return true;
}

void FillEntry(const MediaNode* node, MediaEntry* entry, bool listing) {
  entry->kind = node->kind;
  entry->attributes = node->attributes;
  entry->id = node->id;
  entry->size = listing && node->kind != kMediaKindFile ? 0 : node->size;
  entry->creation_time = node->creation_time;
  entry->last_write_time = node->last_write_time;
}

class MediaVolumeImpl final : public MediaVolume, public MediaVolumeCore {
 public:
  explicit MediaVolumeImpl(SectorDevice* device) { device_ = device; }

  ErrorCode mount();

  void release() override;
  ErrorCode verify(ProgressSink* sink) override {
    return VerifyDevice(device_, image_bytes_, sink);
  }
  void free_buffer(void* buffer) override { free(buffer); }
  ErrorCode open_path(const NameSlot* names, uint32_t count, uint64_t new_handle, MediaOpenResult* result,
                      char16_t** name_buffer) override;
  ErrorCode close_handle(uint64_t handle, uint64_t seen) override;
  ErrorCode enumerate(uint64_t handle, uint64_t listing_id, EntrySink* sink) override;
  ErrorCode end_enumeration(uint64_t handle, uint64_t listing_id) override;
  ErrorCode read(uint64_t handle, uint64_t offset, void* buffer, uint32_t length, uint32_t* bytes_read) override;
  ErrorCode image_size(uint64_t* size) override {
    *size = image_bytes_;
    return kOk;
  }
  ErrorCode close_files() override {
    device_->close_files();
    return kOk;
  }
  ErrorCode volume_info(uint64_t handle, uint64_t* time, char16_t** label) override;
  ErrorCode reopen_handle(uint64_t handle, MediaOpenResult* result) override;

 private:
  ~MediaVolumeImpl() = default;

  MediaNode* find_handle(uint64_t handle) {
    return NodeOfHandle(TreeFind(handles_, CompareHandleKey, &handle));
  }
  void remove_cursor(Cursor* cursor) {
    TreeRemove(&cursors_, &cursor->link);
    delete cursor;
  }
  void fill_open_result(MediaNode* node, MediaOpenResult* result) {
    result->handle = node->handle;
    result->open_count = node->open_count;
    FillEntry(node, &result->entry, false);
  }

  std::atomic<uint32_t> references_{1};
  TreeNode* handles_ = nullptr;
  TreeNode* cursors_ = nullptr;
};

}  // namespace

int CompareNodeNames(const char* a, size_t a_length, const char* b, size_t b_length) {
  return TextCompareFold(a, a_length, b, b_length);
}

MediaNode* FirstChild(MediaNode* folder) { return NodeOfSibling(TreeNext(folder->children, nullptr)); }

MediaNode* NextChild(MediaNode* folder, MediaNode* child) {
  return NodeOfSibling(TreeNext(folder->children, &child->sibling_link));
}

// ---- reader interface ----

MediaNode* MediaVolumeCore::new_node(const char* name, size_t length, uint8_t kind, uint64_t id) {
  if (length > UINT32_MAX - 1) return nullptr;
  auto* node = static_cast<MediaNode*>(arena_.alloc(offsetof(MediaNode, name) + length + 1));
  if (node == nullptr) return nullptr;
  if (length != 0) memcpy(node->name, name, length);
  node->name[length] = '\0';
  node->name_length = static_cast<uint32_t>(length);
  node->kind = kind;
  node->id = id;
  return node;
}

ErrorCode MediaVolumeCore::add_child(MediaNode* folder, const char* name, size_t length, uint8_t kind, uint64_t id,
                                     FileSystemReader* reader, MediaNode** out) {
  if (out != nullptr) *out = nullptr;
  MediaNode* node = new_node(name, length, kind, id);
  if (node == nullptr) return kErrorOutOfMemory;
  node->reader = reader;
  NameKey key{node->name, node->name_length};
  TreeNode* slot = nullptr;
  TreeFindSlot(folder->children, CompareNameKeyAfterEqual, &key, &slot);
  TreeInsertAfter(&folder->children, slot, &node->sibling_link);
  if (out != nullptr) *out = node;
  return kOk;
}

MediaNode* MediaVolumeCore::find_child(MediaNode* folder, const char* name, size_t length) {
  NameKey key{name, length};
  return NodeOfSibling(TreeFind(folder->children, CompareNameKey, &key));
}

ErrorCode MediaVolumeCore::make_volume_root(const char* name, uint64_t id, FileSystemReader* reader,
                                            MediaNode** out) {
  MediaNode* node = nullptr;
  ErrorCode const error = add_child(media_folder_, name, strlen(name), kMediaKindFolder, id, reader, &node);
  if (out != nullptr) *out = node;
  if (error != kOk) return error;
  node->volume_root = 1;
  root_ = node;
  return kOk;
}

void MediaVolumeCore::set_first_extent(MediaNode* node, uint32_t start_sector, uint32_t sector_count) {
  node->first_extent.start_sector = start_sector;
  node->first_extent.sector_count = sector_count;
}

ErrorCode MediaVolumeCore::append_extent(MediaNode* node, uint32_t start_sector, uint32_t sector_count) {
  auto* extent = static_cast<Extent*>(arena_.alloc(sizeof(Extent)));
  if (extent == nullptr) return kErrorOutOfMemory;
  extent->start_sector = start_sector;
  extent->sector_count = sector_count;
  Extent* last = node->last_extent != nullptr ? node->last_extent : &node->first_extent;
  last->next = extent;
  node->last_extent = extent;
  return kOk;
}

void MediaVolumeCore::queue_pending(PendingRead* record) {
  TreeNode* slot = nullptr;
  TreeFindSlot(pending_, ComparePosition, &record->position, &slot);
  TreeInsertAfter(&pending_, slot, &record->link.node);
}

void MediaVolumeCore::run_pending() {
  if (pending_ == nullptr) return;
  uint32_t const buffer_size = 4 * kMediaSectorSize;
  auto* buffer = static_cast<uint8_t*>(malloc(buffer_size));
  while (PendingRead* record = RecordOf(TreeNext(pending_, nullptr))) {
    TreeRemove(&pending_, &record->link.node);
    if (buffer == nullptr || record->node == nullptr || record->node->reader == nullptr) {
      record->destroy();
      continue;
    }
    record->node->reader->finish_pending(record, buffer, buffer_size);
  }
  free(buffer);
}

void MediaVolumeCore::load_folder(MediaNode* folder) {
  if (folder->folder_state != kOk) return;
  if (folder->kind != kMediaKindFolder) {
    folder->folder_state = kFolderNotAFolder;
    return;
  }
  folder->folder_state = kFolderLoaded;
  if (folder->reader == nullptr) return;
  bool run = false;
  ErrorCode const error = folder->reader->load_folder(folder, &run);
  if (error != kOk) folder->folder_state = error;
  if (run) run_pending();
}

// ---- mount ----

ErrorCode MediaVolumeImpl::mount() {
  uint64_t const sectors = device_->total_size() / kMediaSectorSize;
  sector_count_ = sectors >= 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(sectors);
  image_bytes_ = uint64_t{sector_count_} * kMediaSectorSize;

  auto* buffer = static_cast<uint8_t*>(malloc(kMediaSectorSize));
  media_folder_ = new_node(".$media", 7, kMediaKindFolder, 1);
  if (buffer == nullptr || media_folder_ == nullptr) {
    free(buffer);
    return kErrorOutOfMemory;
  }
  media_folder_->folder_state = kFolderLoaded;  // made here, never loaded

  MediaNode* image = nullptr;
  ErrorCode error = add_child(media_folder_, "image.iso", 9, kMediaKindFile, 2, nullptr, &image);
  if (error == kOk) {
    set_first_extent(image, 0, sector_count_);
    image->size = image_bytes_;

    bool udf_present = false;
    error = scan_volume_descriptors(*this, buffer, &udf_present);
    if (error == kOk && udf_present) {
      ErrorCode const udf_error = read_udf_structures(*this, buffer);
      run_pending();
      if (root_ == nullptr) error = udf_error;
    }
  }
  free(buffer);
  return error;
}

void MediaVolumeImpl::release() {
  if (references_.fetch_sub(1) != 1) return;
  if (device_ != nullptr) device_->release();
  while (Cursor* cursor = CursorOf(TreeNext(cursors_, nullptr))) remove_cursor(cursor);
  while (PendingRead* record = RecordOf(TreeNext(pending_, nullptr))) {
    TreeRemove(&pending_, &record->link.node);
    record->destroy();
  }
  if (media_folder_ != nullptr) {
    for (MediaNode* node = FirstChild(media_folder_); node != nullptr; node = NextChild(media_folder_, node)) {
      if (node->volume_root && node->reader != nullptr) node->reader->release();
    }
  }
  arena_.free_all();
  delete this;
}

// ---- handles and listings ----

ErrorCode MediaVolumeImpl::open_path(const NameSlot* names, uint32_t count, uint64_t new_handle,
                                     MediaOpenResult* result, char16_t** name_buffer) {
  MediaNode* node = root_;
  uint32_t i = 0;
  if (count > 0 && IsMediaFolderName(names[0])) {
    node = media_folder_;
    i = 1;
  } else if (node == nullptr) {
    return count <= 1 ? kErrorFileNotFound : kErrorPathNotFound;
  }
  for (; i < count; ++i) {
    ErrorCode const missing = i + 1 == count ? kErrorFileNotFound : kErrorPathNotFound;
    if (node->kind != kMediaKindFolder) return missing;
    load_folder(node);
    MediaNode* child = find_child(node, names[i].utf8_name, names[i].utf8_length);
    if (child == nullptr) return missing;
    node = child;
  }
  run_pending();

  // A caller's handle must be usable to find this node again.
  if (node->handle == 0 && (new_handle == 0 || find_handle(new_handle) != nullptr)) {
    return kErrorInvalidParameter;
  }
  char16_t* name = nullptr;
  if (name_buffer != nullptr && count > 0) {
    name = HeapDupUtf8(node->name, node->name_length);
    if (name == nullptr) return kErrorOutOfMemory;
  }
  if (node->handle == 0) {
    node->handle = new_handle;
    TreeNode* slot = nullptr;
    TreeFindSlot(handles_, CompareHandleKey, &new_handle, &slot);
    TreeInsertAfter(&handles_, slot, &node->handle_link);
  }
  ++node->open_count;
  fill_open_result(node, result);
  if (name_buffer != nullptr && count > 0) *name_buffer = name;
  return kOk;
}

ErrorCode MediaVolumeImpl::close_handle(uint64_t handle, uint64_t seen) {
  MediaNode* node = find_handle(handle);
  if (node == nullptr) return kErrorInvalidParameter;
  if (seen != kMediaCloseAll && node->open_count > seen) return kOk;
  while (Cursor* cursor = CursorOf(TreeFind(cursors_, CompareCursorHandle, &handle))) remove_cursor(cursor);
  if (seen == kMediaCloseAll) {
    TreeRemove(&handles_, &node->handle_link);
    node->handle = 0;
    node->open_count = 0;
  }
  return kOk;
}

ErrorCode MediaVolumeImpl::enumerate(uint64_t handle, uint64_t listing_id, EntrySink* sink) {
  CursorKey key{handle, listing_id};
  Cursor* cursor = CursorOf(TreeFind(cursors_, CompareCursorKey, &key));
  if (cursor == nullptr) {
    MediaNode* folder = find_handle(handle);
    if (folder == nullptr) return kErrorInvalidParameter;
    cursor = new (std::nothrow) Cursor{};
    if (cursor == nullptr) return kErrorOutOfMemory;
    cursor->folder = folder;
    cursor->handle = handle;
    cursor->listing_id = listing_id;
    TreeNode* slot = nullptr;
    TreeFindSlot(cursors_, CompareCursorKey, &key, &slot);
    TreeInsertAfter(&cursors_, slot, &cursor->link);
    load_folder(folder);
    run_pending();
    cursor->next = FirstChild(folder);
  }
  for (;;) {
    MediaNode* child = cursor->next;
    if (child == nullptr) {
      sink->on_end();
      return kOk;
    }
    MediaEntry entry{};
    FillEntry(child, &entry, true);
    bool more = false;
    if (!sink->on_entry(entry, child->name, &more)) return kOk;
    cursor->next = NextChild(cursor->folder, child);
    if (!more) return kOk;
  }
}

ErrorCode MediaVolumeImpl::end_enumeration(uint64_t handle, uint64_t listing_id) {
  CursorKey key{handle, listing_id};
  Cursor* cursor = CursorOf(TreeFind(cursors_, CompareCursorKey, &key));
  if (cursor == nullptr) return kErrorInvalidParameter;
  remove_cursor(cursor);
  return kOk;
}

ErrorCode MediaVolumeImpl::read(uint64_t handle, uint64_t offset, void* buffer, uint32_t length,
                                uint32_t* bytes_read) {
  *bytes_read = 0;
  MediaNode const* node = find_handle(handle);
  if (node == nullptr) return kErrorInvalidParameter;
  if (offset >= node->size || length == 0) return kOk;
  // Positions in the node's data space, which starts data_offset bytes into
  // the first sector.
  uint64_t begin = offset + node->data_offset;
  uint64_t end = node->size + node->data_offset;
  if (end - begin > length) end = begin + length;

  auto* out = static_cast<uint8_t*>(buffer);
  uint64_t extent_begin = 0;
  for (Extent const* extent = &node->first_extent; extent != nullptr && begin < end; extent = extent->next) {
    uint64_t const extent_end = extent_begin + uint64_t{extent->sector_count} * kMediaSectorSize;
    if (extent_end > begin) {
      auto const piece = static_cast<uint32_t>((end < extent_end ? end : extent_end) - begin);
      if (extent->start_sector == 0 && node->reader != nullptr) {
        memset(out, 0, piece);
      } else {
        uint64_t const device_offset = uint64_t{extent->start_sector} * kMediaSectorSize + (begin - extent_begin);
        ErrorCode const error = device_->read(device_offset, out, piece);
        if (error != kOk) return error;
      }
      begin += piece;
      out += piece;
      *bytes_read += piece;
    }
    extent_begin = extent_end;
  }
  return kOk;
}

ErrorCode MediaVolumeImpl::volume_info(uint64_t handle, uint64_t* time, char16_t** label) {
  MediaNode* node = handle == 0 ? root_ : find_handle(handle);
  if (node == nullptr) return kErrorInvalidParameter;
  if (node->reader == nullptr) return kOk;
  return node->reader->volume_info(time, label);
}

ErrorCode MediaVolumeImpl::reopen_handle(uint64_t handle, MediaOpenResult* result) {
  MediaNode* node = handle == 0 ? root_ : find_handle(handle);
  if (node == nullptr) return kErrorInvalidParameter;
  ++node->open_count;
  fill_open_result(node, result);
  return kOk;
}

ErrorCode mount_media_device(MediaVolume** out, SectorDevice* device) {
  *out = nullptr;
  auto* volume = new (std::nothrow) MediaVolumeImpl(device);
  if (volume == nullptr) {
    device->release();
    return kErrorOutOfMemory;
  }
  ErrorCode const error = volume->mount();
  if (error != kOk) {
    volume->release();
    return error;
  }
  *out = volume;
  return kOk;
}

}  // namespace sm
