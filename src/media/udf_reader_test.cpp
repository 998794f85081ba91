#include "media/udf_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "media/calendar.h"
#include "media/media_test_util.h"
#include "media/media_volume.h"
#include "support/media_walk.h"
#include "support/memory_device.h"
#include "support/temp_folder.h"
#include "support/udf_image_builder.h"
#include "support/udf_tool_images.h"

namespace sm {
namespace {

namespace fs = std::filesystem;
using test::ListedEntry;
using test::MediaPath;
using test::MemoryDevice;
using test::VolumePtr;
using test::WalkedEntry;
using test::OpenMedia;
using test::ReadMedia;
using test::WalkMedia;
using test::TempFolder;
using test::UdfImageBuilder;
using Layout = UdfImageBuilder::Layout;

// ---- walking a mounted volume ------------------------------------------------

struct Walked {
  uint8_t kind;
  uint8_t attributes;
  uint64_t size;
  uint64_t creation_time;
  uint64_t write_time;
};

MediaPath split(const std::string& path) {
  MediaPath names;
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    names.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

struct Mount {
  VolumePtr volume;
  ErrorCode error = kOk;

  std::map<std::string, Walked> walk(const std::string& path = "") {
    std::map<std::string, Walked> out;
    for (const WalkedEntry& e : WalkMedia(volume.get(), split(path))) {
      out[e.path] = {e.entry.kind, e.entry.attributes, e.entry.size, e.entry.creation_time,
                     e.entry.last_write_time};
    }
    return out;
  }
  ErrorCode read(const std::string& path, std::string* data) {
    ErrorCode error = kOk;
    std::vector<uint8_t> bytes = ReadMedia(volume.get(), split(path), &error);
    data->assign(bytes.begin(), bytes.end());
    return error;
  }
  ErrorCode open(const std::string& path, Walked* entry, uint64_t* id = nullptr,
                 uint64_t* handle = nullptr) {
    MediaOpenResult result{};
    ErrorCode error = OpenMedia(volume.get(), split(path), &result);
    *entry = {result.entry.kind, result.entry.attributes, result.entry.size,
              result.entry.creation_time, result.entry.last_write_time};
    if (id) *id = result.entry.id;
    if (handle) *handle = result.handle;
    return error;
  }
  // The volume information of the root ("") or of an entry.
  ErrorCode label(const std::string& path, std::u16string* label, uint64_t* time) {
    uint64_t handle = 0;
    if (!path.empty()) {
      Walked entry{};
      ErrorCode error = open(path, &entry, nullptr, &handle);
      if (error != kOk) return error;
    }
    char16_t* text = nullptr;
    ErrorCode error = volume->volume_info(handle, time, &text);
    if (text) {
      *label = text;
      volume->free_buffer(text);
    }
    return error;
  }
};

std::unique_ptr<Mount> mount_bytes(std::vector<uint8_t> image) {
  auto m = std::make_unique<Mount>();
  MediaVolume* volume = nullptr;
  m->error = mount_media_device(&volume, new MemoryDevice(std::move(image)));
  m->volume.reset(volume);
  return m;
}

uint64_t file_time(uint16_t y, uint16_t mo, uint16_t d, uint16_t h, uint16_t mi, uint16_t s,
                   uint16_t ms = 0) {
  return CalendarToFileTime({y, mo, d, h, mi, s, ms});
}

const uint64_t kWriteTime = file_time(2021, 3, 4, 4, 6, 7, 890);
const uint64_t kCreationTime = file_time(2020, 1, 2, 5, 4, 5);
const uint64_t kVolumeTime = file_time(2019, 6, 7, 8, 9, 10);

std::string pattern(size_t n, int seed) {
  std::string s(n, 0);
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 31 + seed + i / 2048);
  return s;
}

// The tree every byte-built variant carries, with each way of describing data.
struct Sample {
  std::string name;
  std::string data;
  Layout layout;
};
const std::vector<Sample>& samples() {
  static const std::vector<Sample> s = {
      {"short.bin", pattern(5000, 1), Layout::kShort},
      {"long.bin", pattern(4096, 2), Layout::kLong},
      {"embedded.txt", "data inside the entry", Layout::kEmbedded},
      {"chained.bin", pattern(2 * 2048 + 700, 3), Layout::kChained},
      {"empty", "", Layout::kShort},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80.txt", "unicode", Layout::kShort},
  };
  return s;
}

UdfImageBuilder sample_builder(const UdfImageBuilder::Options& options) {
  UdfImageBuilder b(options);
  int folder = b.add_folder(b.root(), "folder");
  int nested = b.add_folder(folder, "nested");
  for (const Sample& s : samples()) b.add_file(folder, s.name, s.data, s.layout);
  int indirect = b.add_file(nested, "indirect.txt", "found through an indirect entry");
  b.entry(indirect).indirect = true;
  int link = b.add_file(b.root(), "link", std::string("\x05\x00\x00\x00", 4) + "target");
  b.entry(link).file_type = 12;
  int deleted = b.add_file(b.root(), "deleted.txt", "still here");
  b.entry(deleted).characteristics = 0x04;
  int attribute = b.add_file(b.root(), "attribute.txt", "times from an attribute");
  b.entry(attribute).creation_attribute = true;
  return b;
}

struct Variant {
  const char* name;
  UdfImageBuilder::Options options;
};

std::vector<Variant> variants() {
  std::vector<Variant> v(7);
  v[0].name = "file entries";
  v[1].name = "extended entries";
  v[1].options.extended_entries = true;
  v[2].name = "metadata partition";
  v[2].options.metadata_partition = true;
  v[3].name = "anchor only at the last sector";
  v[3].options.anchor_at_256 = false;
  v[4].name = "sequence through a pointer";
  v[4].options.split_sequence = true;
  v[5].name = "bridge";
  v[5].options.iso_bridge = true;
  v[6].name = "compact, as the fuzzing seed";
  v[6].options.compact = true;
  v[6].options.anchor_at_256 = false;
  v[6].options.metadata_partition = true;
  return v;
}

TEST(UdfReader, ByteBuiltVariantsMountTheSameTree) {
  for (const Variant& variant : variants()) {
    SCOPED_TRACE(variant.name);
    std::unique_ptr<Mount> m(mount_bytes(sample_builder(variant.options).build()));
    ASSERT_EQ(m->error, kOk);
    std::map<std::string, Walked> tree = m->walk();
    std::vector<std::string> paths;
    for (const auto& [path, entry] : tree) paths.push_back(path);
    std::vector<std::string> expected = {"attribute.txt", "deleted.txt", "folder", "folder/nested",
                                         "folder/nested/indirect.txt", "link"};
    for (const Sample& s : samples()) expected.push_back("folder/" + s.name);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(paths, expected);

    for (const Sample& s : samples()) {
      std::string data;
      EXPECT_EQ(m->read("folder/" + s.name, &data), kOk) << s.name;
      EXPECT_EQ(data, s.data) << s.name;
      EXPECT_EQ(tree["folder/" + s.name].size, s.data.size()) << s.name;
      EXPECT_EQ(tree["folder/" + s.name].kind, 1);
      EXPECT_EQ(tree["folder/" + s.name].attributes, 0);
      EXPECT_EQ(tree["folder/" + s.name].write_time, kWriteTime);
    }
    std::string data;
    EXPECT_EQ(m->read("folder/nested/indirect.txt", &data), kOk);
    EXPECT_EQ(data, "found through an indirect entry");
    EXPECT_EQ(tree["folder"].kind, 2);
    EXPECT_EQ(tree["link"].attributes, 0x06);  // hidden and system
    EXPECT_EQ(m->read("link", &data), kOk);
    EXPECT_EQ(data, std::string("\x05\x00\x00\x00", 4) + "target");
    EXPECT_EQ(m->read("deleted.txt", &data), kOk);
    EXPECT_EQ(data, "still here");
    EXPECT_EQ(tree["attribute.txt"].creation_time, kCreationTime);
    EXPECT_EQ(tree["folder/short.bin"].creation_time,
              variant.options.extended_entries ? kCreationTime : 0u);

    std::u16string label;
    uint64_t time = 0;
    EXPECT_EQ(m->label("", &label, &time), kOk);
    EXPECT_EQ(label, u"FILESET");
    EXPECT_EQ(time, kVolumeTime);
    // The root starts with the file set's time; its own entry then gives its time.
    Walked root{};
    EXPECT_EQ(m->open(".$media/udf", &root), kOk);
    EXPECT_EQ(root.write_time, kWriteTime);
  }
}

TEST(UdfReader, MetadataPartitionIsListedAsAFile) {
  UdfImageBuilder::Options options;
  options.metadata_partition = true;
  std::vector<uint8_t> image = sample_builder(options).build();
  std::unique_ptr<Mount> m(mount_bytes(image));
  ASSERT_EQ(m->error, kOk);
  Walked meta{};
  uint64_t id = 0;
  ASSERT_EQ(m->open(".$media/udf_metadata_1", &meta, &id), kOk);
  EXPECT_EQ(meta.kind, 1);
  EXPECT_EQ(meta.attributes, 0x06);
  EXPECT_EQ(id, 257u * 2048 + 1);  // the metadata file entry's sector
  std::string data;
  ASSERT_EQ(m->read(".$media/udf_metadata_1", &data), kOk);
  ASSERT_EQ(data.size(), meta.size);
  // Its content is the metadata partition: the file set descriptor first.
  EXPECT_EQ(std::string(data.data(), 2048), std::string(reinterpret_cast<char*>(image.data()) + 258 * 2048, 2048));
}

TEST(UdfReader, BridgeRootIsUdfUnlessTheFileSetIsMissing) {
  struct Case {
    const char* name;
    bool file_set, anchor, oversized, bridge;
    ErrorCode mount;
    bool udf_root;
  } cases[] = {
      {"bridge", true, true, false, true, kOk, true},
      {"no file set", false, true, false, true, kOk, false},
      {"no anchor", true, false, false, true, kOk, false},
      {"oversized map table", true, true, true, true, kOk, false},
      {"oversized map table, no ISO 9660", true, true, true, false, kErrorBadFormat, false},
      {"no file set, no ISO 9660", false, true, false, false, kErrorBadFormat, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UdfImageBuilder::Options options;
    options.iso_bridge = c.bridge;
    options.file_set = c.file_set;
    options.anchor_at_256 = options.anchor_at_end = c.anchor;
    options.oversized_map_table = c.oversized;
    std::unique_ptr<Mount> m(mount_bytes(sample_builder(options).build()));
    ASSERT_EQ(m->error, c.mount);
    if (c.mount != kOk) continue;
    std::map<std::string, Walked> tree = m->walk();
    EXPECT_EQ(tree.count("folder"), c.udf_root ? 1u : 0u);
    EXPECT_EQ(tree.count("ISO.TXT"), c.udf_root ? 0u : 1u);
    Walked entry{};
    EXPECT_EQ(m->open(".$media/volume01", &entry), kOk);
    EXPECT_EQ(m->open(".$media/udf", &entry), c.udf_root ? kOk : kErrorFileNotFound);
  }
}

TEST(UdfReader, MetadataNodesOutliveAMissingFileSet) {
  UdfImageBuilder::Options options;
  options.metadata_partition = true;
  options.iso_bridge = true;
  options.file_set = false;
  std::unique_ptr<Mount> m(mount_bytes(sample_builder(options).build()));
  ASSERT_EQ(m->error, kOk);
  Walked meta{};
  ASSERT_EQ(m->open(".$media/udf_metadata_1", &meta), kOk);
  std::string data;
  EXPECT_EQ(m->read(".$media/udf_metadata_1", &data), kOk);
  EXPECT_EQ(data.size(), meta.size);
  std::u16string label = u"untouched";
  uint64_t time = 7;
  EXPECT_EQ(m->label(".$media/udf_metadata_1", &label, &time), kOk);
  EXPECT_EQ(label, u"untouched");
  EXPECT_EQ(time, 7u);
}

TEST(UdfReader, InvalidIdentifierTagKeepsEarlierChildren) {
  UdfImageBuilder b;
  int folder = b.add_folder(b.root(), "folder");
  b.add_file(folder, "first", "1");
  int second = b.add_file(folder, "second", "2");
  b.add_file(folder, "third", "3");
  b.entry(second).broken_identifier = true;
  std::unique_ptr<Mount> m(mount_bytes(b.build()));
  ASSERT_EQ(m->error, kOk);
  std::map<std::string, Walked> tree = m->walk();
  EXPECT_EQ(tree.count("folder/first"), 1u);
  EXPECT_EQ(tree.count("folder/second"), 0u);
  EXPECT_EQ(tree.count("folder/third"), 0u);
}

TEST(UdfReader, DescriptorLoopsEnd) {
  UdfImageBuilder b;
  int indirect = b.add_file(b.root(), "indirect", "never reached");
  b.entry(indirect).indirect = true;
  b.entry(indirect).loop = true;
  int chained = b.add_file(b.root(), "chained", pattern(2 * 2048 + 10, 4), Layout::kChained);
  b.entry(chained).loop = true;
  std::unique_ptr<Mount> m(mount_bytes(b.build()));
  ASSERT_EQ(m->error, kOk);
  std::map<std::string, Walked> tree = m->walk();
  EXPECT_EQ(tree["indirect"].size, 0u);
  EXPECT_EQ(tree.count("chained"), 1u);  // listed; its looping chain was cut short
}

// ---- images made by the real tools, compared with 7z ------------------------

#ifndef _WIN32
void compare_with_7z(const fs::path& image, const fs::path& tree) {
  std::vector<ListedEntry> expected = test::list_udf_with_7z(image);
  ASSERT_FALSE(expected.empty());
  std::vector<uint8_t> bytes(fs::file_size(image));
  std::ifstream in(image, std::ios::binary);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  std::unique_ptr<Mount> m(mount_bytes(std::move(bytes)));
  ASSERT_EQ(m->error, kOk);
  std::vector<ListedEntry> listed;
  for (const auto& [path, entry] : m->walk()) {
    listed.push_back({path, entry.kind == 2, entry.kind == 2 ? 0 : entry.size});
  }
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, expected);
  std::string data;
  ASSERT_EQ(m->read("nested/deeper/big.bin", &data), kOk);
  std::ifstream big(tree / "nested" / "deeper" / "big.bin", std::ios::binary);
  EXPECT_EQ(data, std::string((std::istreambuf_iterator<char>(big)), std::istreambuf_iterator<char>()));
}

#endif

TEST(UdfReader, ToolMadeImagesListLike7z) {
#ifdef _WIN32
  GTEST_SKIP() << "genisoimage, mkudffs, udfclient and 7z are Linux programs";
#else
  TempFolder tmp;
  fs::path tree = tmp.path() / "tree";
  test::write_udf_sample_tree(tree);
  {
    SCOPED_TRACE("genisoimage -udf");
    fs::path image = tmp.path() / "bridge.iso";
    ASSERT_EQ(test::make_genisoimage_udf(tree, image), "");
    compare_with_7z(image, tree);
  }
  // 1.50 records file entries, 2.01 extended file entries.
  for (const char* revision : {"0x0150", "0x0201"}) {
    SCOPED_TRACE(std::string("mkudffs + udfclient, revision ") + revision);
    fs::path image = tmp.path() / (std::string("udf") + revision + ".img");
    ASSERT_EQ(test::make_mkudffs_udf(tree, image, revision), "");
    compare_with_7z(image, tree);
  }
#endif
}

}  // namespace
}  // namespace sm
