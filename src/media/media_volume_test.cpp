#include "media/media_volume.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "media/media_test_util.h"
#include "media/volume_core.h"
#include "support/iso_builder.h"
#include "support/media_walk.h"

namespace sm::test {
namespace {

// Sector 16 primary descriptor, root at 20 holding README.TXT (5000 bytes at
// 30), DIR (at 21, holding A.TXT), ZERO.BIN (100 bytes at sector 0), and
// TWO.BIN (one record at 34, one at 36: 2048 + 10 bytes).
std::vector<uint8_t> SampleImage() {
  IsoImage image(40);
  IsoVolume volume;
  volume.volume_id = "SAMPLE";
  volume.root_location = 20;
  volume.created = IsoLongDate("2020010203040500", 0);
  image.volume(16, volume);
  image.terminator(17);
  std::vector<IsoRecord> root = IsoImage::Dots(20, 2048);
  root.push_back(IsoFile("README.TXT;1", 30, 5000));
  root.push_back(IsoFolder("DIR", 21));
  root.push_back(IsoFile("ZERO.BIN;1", 0, 100));
  root.push_back(IsoFile("TWO.BIN;1", 34, 2048));
  root.push_back(IsoFile("TWO.BIN;1", 36, 10));
  image.directory(20, root);
  std::vector<IsoRecord> dir = IsoImage::Dots(21, 2048);
  dir.push_back(IsoFile("A.TXT;1", 33, 5));
  image.directory(21, dir);
  for (uint32_t i = 0; i < 5000; ++i) image.sector(30)[i] = static_cast<uint8_t>(i * 7 + 1);
  memcpy(image.sector(33), "hello", 5);
  memset(image.sector(34), 'x', 2048);
  memcpy(image.sector(36), "0123456789", 10);
  return image.bytes;
}

class CountingSink final : public EntrySink {
 public:
  // accept: how many entries to accept in one call; more: ask for more
  bool on_entry(const MediaEntry& entry, const char* name, bool* more) override {
    offered.push_back(name);
    if (refuse_next) {
      refuse_next = false;
      return false;
    }
    accepted.push_back(name);
    entries.push_back(entry);
    *more = ask_more;
    return true;
  }
  void on_end() override { ++ends; }

  std::vector<std::string> offered;
  std::vector<std::string> accepted;
  std::vector<MediaEntry> entries;
  bool ask_more = false;
  bool refuse_next = false;
  int ends = 0;
};

std::vector<std::string> Names(const std::vector<MediaChild>& children) {
  std::vector<std::string> names;
  for (MediaChild const& child : children) names.push_back(child.name);
  return names;
}

TEST(MediaVolume, ImageIsoReadsTheWholeImageRoundedToSectors) {
  std::vector<uint8_t> bytes = SampleImage();
  std::vector<uint8_t> const sectors = bytes;
  bytes.resize(bytes.size() + 100, 0xAB);  // a partial sector is not part of the image
  VolumePtr volume = MountBytes(bytes);
  ASSERT_TRUE(volume);
  uint64_t size = 0;
  EXPECT_EQ(volume->image_size(&size), kOk);
  EXPECT_EQ(size, sectors.size());
  for (const char* media : {".$media", ".$MEDIA"}) {
    ErrorCode error = 1;
    EXPECT_EQ(ReadMedia(volume.get(), {media, "image.iso"}, &error), sectors) << media;
    EXPECT_EQ(error, kOk);
  }
  std::vector<MediaChild> children;
  ASSERT_EQ(ListMedia(volume.get(), {".$media"}, &children), kOk);
  EXPECT_EQ(Names(children), (std::vector<std::string>{"image.iso", "volume01"}));
  EXPECT_EQ(children[0].entry.id, 2u);
  EXPECT_EQ(children[1].entry.id, 16u * 2048);
  children.clear();
  ASSERT_EQ(ListMedia(volume.get(), {}, &children), kOk);
  EXPECT_EQ(Names(children), (std::vector<std::string>{"DIR", "README.TXT", "TWO.BIN", "ZERO.BIN"}));
}

TEST(MediaVolume, OpenPathResults) {
  VolumePtr volume = MountBytes(SampleImage());
  ASSERT_TRUE(volume);
  struct Case {
    MediaPath path;
    ErrorCode expected;
  } const cases[] = {
      {{}, kOk},
      {{"readme.txt"}, kOk},
      {{"dir", "A.TXT"}, kOk},
      {{"missing"}, kErrorFileNotFound},
      {{"missing", "A.TXT"}, kErrorPathNotFound},
      {{"DIR", "missing"}, kErrorFileNotFound},
      {{"README.TXT", "x"}, kErrorFileNotFound},
      {{"README.TXT", "x", "y"}, kErrorPathNotFound},
      {{".$media", "volume01", "DIR", "A.TXT"}, kOk},
      {{".$media", "nothing"}, kErrorFileNotFound},
      {{".$media ", "image.iso"}, kErrorPathNotFound},
  };
  for (Case const& c : cases) {
    MediaOpenResult result{};
    EXPECT_EQ(OpenMedia(volume.get(), c.path, &result), c.expected) << c.path.size();
  }
}

TEST(MediaVolume, OpenPathFillsTheResultAndTheName) {
  VolumePtr volume = MountBytes(SampleImage());
  ASSERT_TRUE(volume);
  NameSlot const slot{nullptr, 0, "readme.txt", 10};
  MediaOpenResult result{};
  result.entry.second_time = 77;
  result.entry.fourth_time = 88;
  char16_t* name = nullptr;
  ASSERT_EQ(volume->open_path(&slot, 1, 5, &result, &name), kOk);
  EXPECT_EQ(result.handle, 5u);
  EXPECT_EQ(result.open_count, 1u);
  EXPECT_EQ(result.entry.kind, kMediaKindFile);
  EXPECT_EQ(result.entry.size, 5000u);
  EXPECT_EQ(result.entry.second_time, 77u);  // left as the caller had them
  EXPECT_EQ(result.entry.fourth_time, 88u);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(std::u16string(name), u"README.TXT");
  volume->free_buffer(name);

  // The root has no name to hand out; a folder's size is filled by open_path.
  name = nullptr;
  ASSERT_EQ(volume->open_path(nullptr, 0, 6, &result, &name), kOk);
  EXPECT_EQ(name, nullptr);
  EXPECT_EQ(result.entry.kind, kMediaKindFolder);
  EXPECT_EQ(result.entry.size, 2048u);
}

TEST(MediaVolume, HandlesCountOpensAndCloseCompletely) {
  VolumePtr volume = MountBytes(SampleImage());
  ASSERT_TRUE(volume);
  NameSlot const slot{nullptr, 0, "DIR", 3};
  MediaOpenResult first{}, second{};
  ASSERT_EQ(volume->open_path(&slot, 1, 100, &first, nullptr), kOk);
  ASSERT_EQ(volume->open_path(&slot, 1, 200, &second, nullptr), kOk);
  EXPECT_EQ(second.handle, 100u);
  EXPECT_EQ(second.open_count, 2u);

  CountingSink sink;
  ASSERT_EQ(volume->enumerate(100, 1, &sink), kOk);
  EXPECT_EQ(volume->close_handle(100, 1), kOk);  // opened again since: nothing happens
  EXPECT_EQ(volume->end_enumeration(100, 1), kOk);
  ASSERT_EQ(volume->enumerate(100, 1, &sink), kOk);
  EXPECT_EQ(volume->close_handle(100, 2), kOk);  // drops the cursors, keeps the handle
  EXPECT_EQ(volume->end_enumeration(100, 1), kErrorInvalidParameter);
  MediaOpenResult again{};
  EXPECT_EQ(volume->reopen_handle(100, &again), kOk);
  EXPECT_EQ(again.open_count, 3u);
  EXPECT_EQ(volume->close_handle(100, kMediaCloseAll), kOk);
  EXPECT_EQ(volume->close_handle(100, kMediaCloseAll), kErrorInvalidParameter);
  EXPECT_EQ(volume->reopen_handle(100, &again), kErrorInvalidParameter);
  EXPECT_EQ(volume->enumerate(100, 2, &sink), kErrorInvalidParameter);

  // Closed, the node takes the next caller's handle; a handle in use or 0 is refused.
  ASSERT_EQ(volume->open_path(&slot, 1, 300, &first, nullptr), kOk);
  EXPECT_EQ(first.handle, 300u);
  EXPECT_EQ(first.open_count, 1u);
  NameSlot const other{nullptr, 0, "README.TXT", 10};
  EXPECT_EQ(volume->open_path(&other, 1, 300, &second, nullptr), kErrorInvalidParameter);
  EXPECT_EQ(volume->open_path(&other, 1, 0, &second, nullptr), kErrorInvalidParameter);
}

TEST(MediaVolume, EnumerationSpansCallsAndRepeatsRefusedEntries) {
  VolumePtr volume = MountBytes(SampleImage());
  ASSERT_TRUE(volume);
  MediaOpenResult root{};
  ASSERT_EQ(OpenMedia(volume.get(), {}, &root), kOk);
  CountingSink sink;
  for (int call = 0; call < 4; ++call) {
    ASSERT_EQ(volume->enumerate(root.handle, 9, &sink), kOk);
    if (call == 1) {
      sink.refuse_next = true;
      ASSERT_EQ(volume->enumerate(root.handle, 9, &sink), kOk);
    }
  }
  EXPECT_EQ(sink.ends, 0);
  EXPECT_EQ(sink.accepted, (std::vector<std::string>{"DIR", "README.TXT", "TWO.BIN", "ZERO.BIN"}));
  EXPECT_EQ(sink.offered, (std::vector<std::string>{"DIR", "README.TXT", "TWO.BIN", "TWO.BIN", "ZERO.BIN"}));
  ASSERT_EQ(volume->enumerate(root.handle, 9, &sink), kOk);
  EXPECT_EQ(sink.ends, 1);
  // Listings are sized for files only.
  EXPECT_EQ(sink.entries[0].kind, kMediaKindFolder);
  EXPECT_EQ(sink.entries[0].size, 0u);
  EXPECT_EQ(sink.entries[1].size, 5000u);
  // A second listing id runs on its own; asking for more gets everything.
  CountingSink all;
  all.ask_more = true;
  ASSERT_EQ(volume->enumerate(root.handle, 10, &all), kOk);
  EXPECT_EQ(all.accepted.size(), 4u);
  EXPECT_EQ(all.ends, 1);
  EXPECT_EQ(volume->end_enumeration(root.handle, 10), kOk);
  EXPECT_EQ(volume->end_enumeration(root.handle, 10), kErrorInvalidParameter);
}

TEST(MediaVolume, ReadsOverExtents) {
  MemoryDevice* device = nullptr;
  VolumePtr volume = MountBytes(SampleImage(), &device);
  ASSERT_TRUE(volume);
  std::vector<uint8_t> two = ReadMedia(volume.get(), {"TWO.BIN"});
  ASSERT_EQ(two.size(), 2058u);
  EXPECT_EQ(std::string(two.begin(), two.begin() + 2048), std::string(2048, 'x'));
  EXPECT_EQ(std::string(two.begin() + 2048, two.end()), "0123456789");
  EXPECT_EQ(ReadMedia(volume.get(), {"ZERO.BIN"}), std::vector<uint8_t>(100, 0));

  MediaOpenResult file{};
  ASSERT_EQ(OpenMedia(volume.get(), {"README.TXT"}, &file), kOk);
  uint8_t buffer[16];
  uint32_t got = 99;
  EXPECT_EQ(volume->read(file.handle, 5000, buffer, 16, &got), kOk);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(volume->read(file.handle, ~uint64_t{0} - 3, buffer, 16, &got), kOk);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(volume->read(file.handle, 4990, buffer, 16, &got), kOk);
  EXPECT_EQ(got, 10u);
  EXPECT_EQ(buffer[0], static_cast<uint8_t>(4990 * 7 + 1));
  EXPECT_EQ(volume->read(12345, 0, buffer, 16, &got), kErrorInvalidParameter);

  device->fail_at_ = 30 * 2048 + 3000;
  device->fail_error_ = kErrorEndOfFile;
  std::vector<uint8_t> big(5000);
  EXPECT_EQ(volume->read(file.handle, 0, big.data(), 5000, &got), kErrorEndOfFile);
}

TEST(MediaVolume, VolumeInfo) {
  VolumePtr volume = MountBytes(SampleImage());
  ASSERT_TRUE(volume);
  uint64_t time = 0;
  char16_t* label = nullptr;
  ASSERT_EQ(volume->volume_info(0, &time, &label), kOk);
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(std::u16string(label), u"SAMPLE");
  EXPECT_EQ(time, 132224078450000000u);  // 2020-01-02 03:04:05 UTC
  volume->free_buffer(label);

  MediaOpenResult media{}, image{};
  ASSERT_EQ(OpenMedia(volume.get(), {".$media"}, &media), kOk);
  ASSERT_EQ(OpenMedia(volume.get(), {".$media", "image.iso"}, &image), kOk);
  for (uint64_t handle : {media.handle, image.handle}) {
    time = 42;
    label = nullptr;
    EXPECT_EQ(volume->volume_info(handle, &time, &label), kOk);
    EXPECT_EQ(time, 42u);
    EXPECT_EQ(label, nullptr);
  }
  EXPECT_EQ(volume->volume_info(999, &time, &label), kErrorInvalidParameter);
}

TEST(MediaVolume, ImageWithoutFileSystemHasOnlyMediaFolder) {
  VolumePtr volume = MountBytes(std::vector<uint8_t>(40 * 2048));
  ASSERT_TRUE(volume);
  MediaOpenResult result{};
  EXPECT_EQ(OpenMedia(volume.get(), {}, &result), kErrorFileNotFound);
  EXPECT_EQ(OpenMedia(volume.get(), {"a"}, &result), kErrorFileNotFound);
  EXPECT_EQ(OpenMedia(volume.get(), {"a", "b"}, &result), kErrorPathNotFound);
  EXPECT_EQ(volume->reopen_handle(0, &result), kErrorInvalidParameter);
  EXPECT_EQ(ReadMedia(volume.get(), {".$media", "image.iso"}).size(), 40u * 2048);
}

TEST(MediaVolume, ReleaseReleasesTheDevice) {
  bool released = false;
  MemoryDevice* device = nullptr;
  VolumePtr volume = MountBytes(SampleImage(), &device);
  device->released_ = &released;
  EXPECT_EQ(volume->close_files(), kOk);
  EXPECT_EQ(device->close_count_, 1);
  volume.reset();
  EXPECT_TRUE(released);
}

TEST(NodeArena, RoundsZeroFillsAndChains) {
  NodeArena arena;
  auto* a = static_cast<uint8_t*>(arena.alloc(1));
  auto* b = static_cast<uint8_t*>(arena.alloc(9));
  auto* c = static_cast<uint8_t*>(arena.alloc(8));
  EXPECT_EQ(b - a, 8);
  EXPECT_EQ(c - b, 16);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 8, 0u);
  EXPECT_EQ(arena.block_count(), 1u);
  // A request larger than a chunk gets its own block; the chunk stays current.
  auto* big = static_cast<uint8_t*>(arena.alloc(NodeArena::kChunkSize + 1));
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(big[NodeArena::kChunkSize], 0);
  EXPECT_EQ(arena.block_count(), 2u);
  EXPECT_EQ(static_cast<uint8_t*>(arena.alloc(8)) - c, 8);
  // What no longer fits the chunk starts a new one.
  uint8_t* rest = static_cast<uint8_t*>(arena.alloc(NodeArena::kChunkSize - 32));
  EXPECT_EQ(arena.block_count(), 3u);
  EXPECT_TRUE(std::all_of(rest, rest + NodeArena::kChunkSize - 32, [](uint8_t v) { return v == 0; }));
  arena.free_all();
  EXPECT_EQ(arena.block_count(), 0u);
}

}  // namespace
}  // namespace sm::test
