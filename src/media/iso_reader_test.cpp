#include "media/iso_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "media/media_test_util.h"
#include "support/iso_builder.h"
#include "support/media_walk.h"

namespace sm::test {
namespace {

constexpr uint64_t kGiB4 = uint64_t{1} << 32;

std::vector<std::string> Names(MediaVolume* volume, const MediaPath& path) {
  std::vector<MediaChild> children;
  EXPECT_EQ(ListMedia(volume, path, &children), kOk);
  std::vector<std::string> names;
  for (MediaChild const& child : children) names.push_back(child.name);
  return names;
}

// One volume descriptor at 16 whose root directory at 20 holds `records`.
std::vector<uint8_t> OneDirectory(std::vector<IsoRecord> records, uint8_t type = 1, uint8_t version = 1,
                                  std::string escapes = "", uint32_t sectors = 40) {
  IsoImage image(sectors);
  IsoVolume volume;
  volume.type = type;
  volume.version = version;
  volume.escapes = std::move(escapes);
  volume.root_location = 20;
  volume.root_length = 4096;
  image.volume(16, volume);
  image.terminator(17);
  std::vector<IsoRecord> all = IsoImage::Dots(20, 4096);
  all.insert(all.end(), records.begin(), records.end());
  image.directory(20, all);
  return image.bytes;
}

TEST(IsoScan, NamesVolumesAndPicksTheLastAsRoot) {
  IsoImage image(40);
  image.descriptor(16, 0x00, "CD001", 1);  // boot record: passed over
  IsoVolume primary;
  primary.volume_id = "PRIMARY";
  primary.root_location = 20;
  image.volume(17, primary);
  image.terminator(18);  // passed over, uses no number
  IsoVolume unknown;
  unknown.type = 2;
  unknown.escapes = "%/X";
  unknown.root_location = 21;
  image.volume(19, unknown);  // not made, but its number is used
  IsoVolume joliet;
  joliet.type = 2;
  joliet.escapes = "%/E";
  joliet.volume_id = Ucs2BigEndian(u"J\u00F6liet          ");  // padded to 16
  joliet.root_location = 21;
  image.volume(20, joliet);
  image.descriptor(21, 0x00, "NSR02", 1);  // counts a number too
  image.volume(22, primary);
  image.descriptor(23, 0x00, "XXXXX", 1);  // ends the set
  image.volume(24, primary);
  image.directory(30, IsoImage::Dots(30, 2048));
  VolumePtr volume = MountBytes(image.bytes);
  ASSERT_TRUE(volume);
  EXPECT_EQ(Names(volume.get(), {".$media"}),
            (std::vector<std::string>{"image.iso", "volume01", "volume03", "volume05"}));
  MediaOpenResult opened{};
  ASSERT_EQ(OpenMedia(volume.get(), {".$media", "volume03"}, &opened), kOk);
  uint64_t time = 0;
  char16_t* label = nullptr;
  ASSERT_EQ(volume->volume_info(opened.handle, &time, &label), kOk);
  EXPECT_EQ(std::u16string(label), u"J\u00F6liet");
  volume->free_buffer(label);
  ASSERT_EQ(volume->volume_info(0, &time, &label), kOk);  // the root: volume05
  EXPECT_EQ(std::u16string(label), u"PRIMARY");
  volume->free_buffer(label);
  MediaOpenResult root{};
  ASSERT_EQ(OpenMedia(volume.get(), {}, &root), kOk);
  EXPECT_EQ(root.entry.id, 22u * 2048);
}

TEST(IsoScan, EverySessionHasItsVolumes) {
  IsoImage image(100);
  IsoVolume first;
  first.volume_id = "FIRST";
  first.root_location = 20;
  image.volume(16, first);
  image.terminator(17);
  image.directory(20, {IsoFile("OLD.TXT;1", 21, 3)});
  IsoVolume second;
  second.volume_id = "SECOND";
  second.root_location = 80;
  image.volume(50 + 16, second);
  image.volume(50 + 17, second);
  image.terminator(50 + 18);
  image.directory(80, {IsoFile("NEW.TXT;1", 81, 3)});
  VolumePtr volume = MountBytes(image.bytes, nullptr, {0, 50 * 2048});
  ASSERT_TRUE(volume);
  EXPECT_EQ(Names(volume.get(), {".$media"}),
            (std::vector<std::string>{"image.iso", "session01volume01", "session02volume01", "session02volume02"}));
  EXPECT_EQ(Names(volume.get(), {}), std::vector<std::string>{"NEW.TXT"});
  EXPECT_EQ(Names(volume.get(), {".$media", "session01volume01"}), std::vector<std::string>{"OLD.TXT"});
}

TEST(IsoScan, UnreadableSectorEndsTheSessionQuietly) {
  IsoImage image(40);
  IsoVolume primary;
  primary.root_location = 20;
  image.volume(16, primary);
  image.volume(17, primary);
  MemoryDevice* device = nullptr;
  VolumePtr volume = MountBytes(image.bytes, &device);
  ASSERT_TRUE(volume);
  // Both were found; with a read failure at 17 only the first would be.
  EXPECT_EQ(Names(volume.get(), {".$media"}).size(), 3u);
  auto* failing = new MemoryDevice(image.bytes);
  failing->fail_at_ = 17 * 2048;
  MediaVolume* raw = nullptr;
  ASSERT_EQ(mount_media_device(&raw, failing), kOk);
  VolumePtr second(raw);
  EXPECT_EQ(Names(second.get(), {".$media"}), (std::vector<std::string>{"image.iso", "volume01"}));
}

TEST(IsoNames, VersionSuffixesAndClashes) {
  struct Case {
    uint8_t type, version;
    const char* escapes;
    std::vector<std::string> recorded;
    std::vector<std::string> listed;
  } const cases[] = {
      {1, 1, "", {"README.TXT;1", "FILE.;1", "NAME;01", "NAME;1A", ";1", ".;1", "X;32767", "Y;32768", "Z;"},
       {"", ".", "FILE", "NAME;01", "NAME;1A", "README.TXT", "X", "Y;32768", "Z;"}},
      // A name the shortening would make clash keeps its suffix.
      {1, 1, "", {"A", "A;1"}, {"A", "A;1"}},
      {2, 2, "", {"A;1", "B.;2"}, {"A;1", "B.;2"}},  // enhanced: nothing removed
  };
  for (Case const& c : cases) {
    std::vector<IsoRecord> records;
    uint32_t location = 30;
    for (std::string const& name : c.recorded) records.push_back(IsoFile(name, location++, 1));
    VolumePtr volume = MountBytes(OneDirectory(records, c.type, c.version, c.escapes));
    ASSERT_TRUE(volume);
    EXPECT_EQ(Names(volume.get(), {}), c.listed) << c.recorded[0];
  }
}

TEST(IsoNames, FoldersKeepSuffixesAndJolietDecodes) {
  std::vector<IsoRecord> records = {
      IsoFolder(Ucs2BigEndian(u"Dir;1"), 22),
      IsoFile(Ucs2BigEndian(u"A;1"), 30, 1),
      IsoFile(Ucs2BigEndian(u"\u65E5\u672C\u8A9E \u00E9t\u00E9.txt;1"), 31, 1),
  };
  VolumePtr volume = MountBytes(OneDirectory(records, 2, 1, "%/E"));
  ASSERT_TRUE(volume);
  EXPECT_EQ(Names(volume.get(), {}), (std::vector<std::string>{"A", "Dir;1", "日本語 été.txt"}));
}

TEST(IsoNames, EqualNamesStayInRecordOrderAfterCaseFolding) {
  std::vector<IsoRecord> records = {IsoFile("b", 30, 1), IsoFile("A", 31, 2), IsoFile("a", 32, 3),
                                    IsoFile("B", 33, 4), IsoFile("\xC3\x84", 34, 5), IsoFile("\xC3\xA4", 35, 6)};
  VolumePtr volume = MountBytes(OneDirectory(records, 2, 2));
  ASSERT_TRUE(volume);
  std::vector<MediaChild> children;
  ASSERT_EQ(ListMedia(volume.get(), {}, &children), kOk);
  ASSERT_EQ(children.size(), 6u);
  std::vector<std::pair<std::string, uint64_t>> listed;
  for (MediaChild const& child : children) listed.emplace_back(child.name, child.entry.size);
  EXPECT_EQ(listed, (std::vector<std::pair<std::string, uint64_t>>{
                        {"A", 2}, {"a", 3}, {"b", 1}, {"B", 4}, {"\xC3\x84", 5}, {"\xC3\xA4", 6}}));
  // A lookup finds the first of equal names.
  MediaOpenResult opened{};
  ASSERT_EQ(OpenMedia(volume.get(), {"\xC3\xA4"}, &opened), kOk);
  EXPECT_EQ(opened.entry.size, 5u);
}

TEST(IsoDirectory, MultiExtentFilesSumTheirSections) {
  IsoRecord a = IsoFile("BIG.BIN;1", 30, static_cast<uint32_t>(kGiB4 - 2048));
  IsoRecord b = IsoFile("BIG.BIN;1", 31, static_cast<uint32_t>(kGiB4 - 2048));
  IsoRecord c = IsoFile("BIG.BIN;1", 32, 10);
  a.flags = b.flags = 0x80;
  IsoRecord max = IsoFile("MAX.BIN;1", 33, 0xFFFFFFFFu);
  MemoryDevice* device = nullptr;
  std::vector<uint8_t> bytes = OneDirectory({a, b, c, max});
  memcpy(bytes.data() + 32 * 2048, "tail bytes", 10);
  VolumePtr volume = MountBytes(bytes, &device);
  ASSERT_TRUE(volume);
  MediaOpenResult opened{};
  ASSERT_EQ(OpenMedia(volume.get(), {"BIG.BIN"}, &opened), kOk);
  uint64_t const third = 2 * (kGiB4 - 2048);
  EXPECT_EQ(opened.entry.size, third + 10);
  char tail[16] = {};
  uint32_t got = 0;
  ASSERT_EQ(volume->read(opened.handle, third, tail, 16, &got), kOk);
  EXPECT_EQ(got, 10u);
  EXPECT_EQ(std::string(tail, 10), "tail bytes");
  // The second section: 4 GiB − 2 KiB in the middle of it maps to sector 31.
  device->reads_.clear();
  volume->read(opened.handle, kGiB4 - 2048 + 4096, tail, 1, &got);
  ASSERT_EQ(device->reads_.size(), 1u);
  EXPECT_EQ(device->reads_[0].offset, 31u * 2048 + 4096);
  // 4,294,967,295 bytes take 2,097,152 sectors: the last byte is still read.
  ASSERT_EQ(OpenMedia(volume.get(), {"MAX.BIN"}, &opened), kOk);
  device->reads_.clear();
  volume->read(opened.handle, 0xFFFFFFFEu, tail, 1, &got);
  ASSERT_EQ(device->reads_.size(), 1u);
  EXPECT_EQ(device->reads_[0].offset, uint64_t{33} * 2048 + 0xFFFFFFFEu);
}

TEST(IsoDirectory, InterleavedFilesHaveNoData) {
  IsoRecord interleaved = IsoFile("MIXED.BIN;1", 30, 5000);
  interleaved.unit_size = 1;
  interleaved.gap = 1;
  interleaved.date = {120, 1, 1, 0, 0, 0, 0};
  IsoRecord continued = interleaved;
  continued.location = 40;
  VolumePtr volume = MountBytes(OneDirectory({interleaved, continued, IsoFile("NEXT;1", 31, 4)}));
  ASSERT_TRUE(volume);
  std::vector<MediaChild> children;
  ASSERT_EQ(ListMedia(volume.get(), {}, &children), kOk);
  ASSERT_EQ(children.size(), 2u);
  EXPECT_EQ(children[0].name, "MIXED.BIN");
  EXPECT_EQ(children[0].entry.size, 0u);
  EXPECT_EQ(children[0].entry.last_write_time, 0u);
  EXPECT_TRUE(ReadMedia(volume.get(), {"MIXED.BIN"}).empty());
  EXPECT_EQ(children[1].entry.size, 4u);
}

TEST(IsoDirectory, RecordsContinueAfterPadding) {
  std::vector<IsoRecord> records;
  for (int i = 0; i < 60; ++i) {
    char name[32];
    snprintf(name, sizeof name, "FILE_WITH_A_LONG_NAME_%02d.TXT;1", i);
    records.push_back(IsoFile(name, 30, 1));
  }
  VolumePtr volume = MountBytes(OneDirectory(records));
  ASSERT_TRUE(volume);
  std::vector<std::string> const names = Names(volume.get(), {});
  ASSERT_EQ(names.size(), 60u);  // about 30 fit a sector; the rest follow the padding
  EXPECT_EQ(names[59], "FILE_WITH_A_LONG_NAME_59.TXT");
}

TEST(IsoDirectory, MalformedRecordsKeepEarlierChildren) {
  for (int variant = 0; variant < 3; ++variant) {
    std::vector<uint8_t> bytes = OneDirectory({IsoFile("FIRST;1", 30, 1), IsoFile("SECOND;1", 31, 1)});
    // The third record after ".", "..", FIRST, SECOND.
    size_t at = 20 * 2048 + 34 + 34 + 42 + 42;
    if (variant == 0) {
      bytes[at] = 33;  // too short for a record
    } else if (variant == 1) {
      std::vector<uint8_t> record = IsoRecordBytes(IsoFile("THIRD;1", 32, 1));
      record[32] = 40;  // identifier longer than the record
      memcpy(&bytes[at], record.data(), record.size());
    } else {
      // A directory that ends in the middle of a record ends there, quietly.
      std::vector<uint8_t> record = IsoRecordBytes(IsoFile("THIRD;1", 32, 1));
      memcpy(&bytes[at], record.data(), record.size());
      // The root's length ends in the middle of THIRD.
      uint32_t const length = static_cast<uint32_t>(at - 20 * 2048 + 10);
      uint8_t* root = &bytes[16 * 2048 + 156];
      for (int i = 0; i < 4; ++i) {
        root[10 + i] = static_cast<uint8_t>(length >> (8 * i));
        root[17 - i] = static_cast<uint8_t>(length >> (8 * i));
      }
    }
    VolumePtr volume = MountBytes(bytes);
    ASSERT_TRUE(volume);
    EXPECT_EQ(Names(volume.get(), {}), (std::vector<std::string>{"FIRST", "SECOND"})) << variant;
    MediaOpenResult opened{};
    EXPECT_EQ(OpenMedia(volume.get(), {"THIRD"}, &opened), kErrorFileNotFound);
  }
}

TEST(IsoDirectory, ExtendedAttributeRecordsGiveTimesAndShiftTheData) {
  IsoImage image(40);
  IsoVolume volume;
  volume.root_location = 20;
  volume.root_attribute_length = 250;  // the root's records start one sector later
  image.volume(16, volume);
  image.terminator(17);
  IsoRecord file = IsoFile("EA.TXT;1", 30, 5);
  file.attribute_length = 250;
  file.date = {100, 6, 15, 12, 0, 0, 0};
  IsoRecord small = IsoFile("SMALL.TXT;1", 32, 5);
  small.attribute_length = 10;  // too short for dates: data still shifted
  small.date = {100, 6, 15, 12, 0, 0, 8};
  image.directory(21, {file, small});
  std::string const created = IsoLongDate("2001020304050606", 0);
  std::string const modified = IsoLongDate("2002030405060707", -4);
  memcpy(image.sector(30) + 10, created.data(), 17);
  memcpy(image.sector(30) + 27, modified.data(), 17);
  memcpy(image.sector(31), "hello", 5);
  memcpy(image.sector(33), "small", 5);
  VolumePtr mounted = MountBytes(image.bytes);
  ASSERT_TRUE(mounted);
  std::vector<MediaChild> children;
  ASSERT_EQ(ListMedia(mounted.get(), {}, &children), kOk);
  ASSERT_EQ(children.size(), 2u);
  EXPECT_EQ(children[0].entry.creation_time, 126256467060600000u);    // 2001-02-03 04:05:06.06 UTC
  EXPECT_EQ(children[0].entry.last_write_time, 126596955670700000u);  // 2002-03-04 06:06:07.07 UTC
  EXPECT_EQ(children[1].entry.creation_time, 0u);
  // 2000-06-15 12:00 at UTC+2 is 10:00 UTC.
  EXPECT_EQ(children[1].entry.last_write_time, 126055368000000000u);
  std::vector<uint8_t> const hello = ReadMedia(mounted.get(), {"EA.TXT"});
  EXPECT_EQ(std::string(hello.begin(), hello.end()), "hello");
  std::vector<uint8_t> const text = ReadMedia(mounted.get(), {"SMALL.TXT"});
  EXPECT_EQ(std::string(text.begin(), text.end()), "small");
}

TEST(IsoDates, LongAndShortDates) {
  struct LongCase {
    const char* digits;
    int8_t offset;
    uint64_t expected;
  } const long_cases[] = {
      {"1601010100000000", 0, 0},  // the epoch itself is 0 and stays 0
      {"0000000000000000", 0, 0},  // rejected
      {"2023021900000000", 0, 133212384000000000},
#ifndef _WIN32
      // No 29 February in 2023 (Wine's conversion, unlike Windows, takes it).
      {"2023022900000000", 0, 0},
#endif
      {"2023023200000000", 0, 0},
      {"2024022912000000", 0, 133536816000000000},
      {"2024022912000050", 8, 133536744005000000},  // UTC+2, half a second
      {"2024022912000000", -20, 133536996000000000},
      {"2024136100000000", 0, 0},
  };
  for (LongCase const& c : long_cases) {
    std::string const date = IsoLongDate(c.digits, c.offset);
    EXPECT_EQ(IsoLongDateToFileTime(reinterpret_cast<const uint8_t*>(date.data())), c.expected) << c.digits;
  }
  uint8_t const short_date[7] = {124, 2, 29, 12, 0, 0, 8};
  EXPECT_EQ(IsoShortDateToFileTime(short_date), 133536744000000000u);
  uint8_t const zeros[7] = {};
  EXPECT_EQ(IsoShortDateToFileTime(zeros), 0u);
}

}  // namespace
}  // namespace sm::test
