// Builds small UDF images byte by byte, for the cases the real tools do not
// make: embedded data, chained allocation extents, indirect entries, special
// file types, a metadata partition, broken descriptors. The images carry valid
// CRCs and tag locations, so independent readers accept them too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sm::test {

class UdfImageBuilder {
 public:
  // How a file's data is described.
  enum class Layout {
    kShort,     // short allocation descriptors in the entry
    kLong,      // long allocation descriptors in the entry
    kEmbedded,  // the data inside the file entry
    kChained,   // three extents: one in the entry, one in each of two chained AEDs
  };

  struct Options {
    bool iso_bridge = false;        // an ISO 9660 volume (one file "ISO.TXT") beside UDF
    bool anchor_at_256 = true;
    bool anchor_at_end = true;
    bool extended_entries = false;  // extended file entries with creation times
    bool metadata_partition = false;  // UDF 2.50: entries and folders in a metadata file
    bool split_sequence = false;    // the sequence continues through a pointer
    bool oversized_map_table = false;  // two type-2 maps: 134 bytes of maps
    bool file_set = true;           // false: the file set descriptor's tag is broken
    bool compact = false;           // no gaps (without a bridge, split or anchor at 256)
    std::string volume_label = "UDFTEST";
    std::string file_set_label = "FILESET";
  };

  struct Entry {
    std::string name;  // UTF-8; recorded 8-bit when every character fits, else 16-bit
    bool folder = false;
    std::string data;
    Layout layout = Layout::kShort;
    bool indirect = false;         // the folder points at an indirect entry first
    uint8_t file_type = 0;         // 0: 5 for files, 4 for folders
    uint8_t characteristics = 0;   // extra file identifier bits (0x04 deleted)
    bool creation_attribute = false;  // a file times extended attribute
    bool broken_identifier = false;   // this entry's file identifier tag fails its checksum
    bool loop = false;  // the indirect entry, or the first AED of a chain, points at itself
    int parent = 0;
    std::vector<int> children;
  };

  UdfImageBuilder();
  explicit UdfImageBuilder(Options options);

  int root() const { return 0; }
  int add_folder(int parent, const std::string& name);
  int add_file(int parent, const std::string& name, const std::string& data,
               Layout layout = Layout::kShort);
  Entry& entry(int id) { return entries_[static_cast<size_t>(id)]; }

  // Every entry records 2021-03-04 05:06:07.89 at UTC+1 as its modification
  // time; extended entries and file times attributes record 2020-01-02
  // 03:04:05 at UTC-2 as the creation time. The primary volume descriptor
  // and the file set record 2019-06-07 08:09:10 UTC.

  std::vector<uint8_t> build();

 private:
  struct Placement;
  Options options_;
  std::vector<Entry> entries_;
};

}  // namespace sm::test
