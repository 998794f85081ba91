// What a file-system reader sees of the media volume: nodes and extents from
// the node arena, children kept in name order, the pending queue of
// descriptor reads done in disk order, and the device.
//
// A reader (ISO 9660, UDF) is a FileSystemReader. It makes its volume root
// with make_volume_root, creates children in load_folder with add_child,
// describes data with set_first_extent / append_extent, and defers
// descriptor reads with queue_pending; the volume calls finish_pending for
// them in ascending disk position.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/error.h"
#include "base/tree.h"
#include "media/media_volume.h"

namespace sm {

class FileSystemReader;
class SectorDevice;

inline constexpr uint32_t kMediaSectorSize = 2048;

// Consecutive part of a node's data: sector_count × 2048 bytes from
// start_sector. Start sector 0 on a node with a reader stands for zeros.
struct Extent {
  Extent* next;
  uint32_t start_sector;
  uint32_t sector_count;
};

// Folder state values besides 0 (not loaded yet) and a loading error.
inline constexpr ErrorCode kFolderLoaded = kErrorNoMoreFiles;
inline constexpr ErrorCode kFolderNotAFolder = kErrorInvalidParameter;

struct MediaNode {
  TreeNode handle_link;
  TreeNode sibling_link;
  TreeNode* children;
  FileSystemReader* reader;  // null for ".$media" and "image.iso"
  Extent first_extent;
  Extent* last_extent;  // where append_extent links; null: first_extent
  uint64_t id;
  uint64_t handle;
  uint64_t open_count;
  uint64_t creation_time;
  uint64_t last_write_time;
  uint64_t size;
  ErrorCode folder_state;
  uint16_t data_offset;  // data position inside the first sector
  uint8_t kind;
  uint8_t attributes;
  uint8_t volume_root;  // owns its reader
  uint32_t name_length;  // bytes, without the NUL
  char name[1];          // UTF-8, NUL-terminated, allocated to fit
};

// A descriptor read waiting in the pending queue. Readers derive their own
// records from it; destroy frees a record that will not be completed.
class PendingRead;

// The queue's tree link of a record, with the way back to the record.
struct PendingLink {
  TreeNode node;
  PendingRead* record;
};

class PendingRead {
 public:
  PendingRead() = default;
  PendingRead(const PendingRead&) = delete;
  PendingRead& operator=(const PendingRead&) = delete;
  virtual void destroy() { delete this; }
  virtual ~PendingRead() = default;

  PendingLink link{{}, this};
  MediaNode* node = nullptr;
  uint64_t position = 0;  // device byte offset of the descriptor
};

class FileSystemReader {
 public:
  virtual void release() = 0;
  // Completes a record of this reader: frees it (record->destroy()) or puts
  // it back with queue_pending. buffer holds 4 × 2048 bytes.
  virtual void finish_pending(PendingRead* record, uint8_t* buffer, uint32_t buffer_size) = 0;
  // Creates the folder's children; *run_pending asks for the pending queue
  // to be run as soon as this returns.
  virtual ErrorCode load_folder(MediaNode* folder, bool* run_pending) = 0;
  // Recording time and a heap copy (malloc) of the label.
  virtual ErrorCode volume_info(uint64_t* time, char16_t** label) = 0;

 protected:
  ~FileSystemReader() = default;
};

// Allocations of 8-byte multiples, zero-filled, from chunks of 250,000
// bytes; everything goes at once.
class NodeArena {
 public:
  static constexpr size_t kChunkSize = 250000;

  NodeArena() = default;
  ~NodeArena() { free_all(); }
  NodeArena(const NodeArena&) = delete;
  NodeArena& operator=(const NodeArena&) = delete;

  void* alloc(size_t size);
  void free_all();
  size_t block_count() const { return blocks_; }

 private:
  struct Block;
  Block* chunks_ = nullptr;  // newest first; the first one is current
  size_t used_ = 0;          // bytes used in the current chunk
  size_t blocks_ = 0;
};

// The volume's side of the reader interface.
class MediaVolumeCore {
 public:
  SectorDevice* device() const { return device_; }
  uint32_t sector_size() const { return kMediaSectorSize; }
  uint32_t sector_count() const { return sector_count_; }
  uint64_t image_bytes() const { return image_bytes_; }
  MediaNode* media_folder() const { return media_folder_; }
  MediaNode* root() const { return root_; }
  void set_root(MediaNode* node) { root_ = node; }
  NodeArena& arena() { return arena_; }

  // Creates a node named name[0..length) (UTF-8) as a child of folder, after
  // any children of an equal name. The node gets `reader`; a folder node
  // starts unloaded, a file node as "not a folder".
  ErrorCode add_child(MediaNode* folder, const char* name, size_t length, uint8_t kind, uint64_t id,
                      FileSystemReader* reader, MediaNode** out);
  // The first child whose name equals name[0..length) without regard to case.
  MediaNode* find_child(MediaNode* folder, const char* name, size_t length);
  // A folder under ".$media" that owns `reader` and becomes the root. On
  // failure the reader is not taken.
  ErrorCode make_volume_root(const char* name, uint64_t id, FileSystemReader* reader,
                             MediaNode** out);

  static void set_first_extent(MediaNode* node, uint32_t start_sector, uint32_t sector_count);
  ErrorCode append_extent(MediaNode* node, uint32_t start_sector, uint32_t sector_count);

  // Queues a record by its position, before records of an equal position.
  void queue_pending(PendingRead* record);
  // Completes queued records, lowest position first, until none is left.
  void run_pending();

  // Children are created at most once, before the first lookup or listing.
  void load_folder(MediaNode* folder);

 protected:
  MediaVolumeCore() = default;
  ~MediaVolumeCore() = default;

  MediaNode* new_node(const char* name, size_t length, uint8_t kind, uint64_t id);

  NodeArena arena_;
  SectorDevice* device_ = nullptr;
  uint32_t sector_count_ = 0;
  uint64_t image_bytes_ = 0;
  MediaNode* media_folder_ = nullptr;
  MediaNode* root_ = nullptr;
  TreeNode* pending_ = nullptr;
};

// Children in order, for walking a folder without handles.
MediaNode* FirstChild(MediaNode* folder);
MediaNode* NextChild(MediaNode* folder, MediaNode* child);

// Case-insensitive order of node names (Unicode simple case folding).
int CompareNodeNames(const char* a, size_t a_length, const char* b, size_t b_length);

}  // namespace sm
