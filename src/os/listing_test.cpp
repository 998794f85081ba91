#include "os/listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "os/dir_records.h"
#include "os/file.h"
#include "support/folder_link.h"
#include "support/temp_folder.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace sm {
namespace {

// One native directory record, built by hand.
std::vector<uint8_t> record(size_t name_offset, const std::u16string& name, uint32_t attributes, uint64_t size,
                            uint32_t tag_field_offset, uint32_t tag, size_t id_bytes, bool last) {
  size_t bytes = (name_offset + name.size() * 2 + 7) & ~size_t(7);
  std::vector<uint8_t> out(bytes, 0);
  auto put = [&](size_t at, const void* value, size_t n) { memcpy(out.data() + at, value, n); };
  uint32_t next = last ? 0 : static_cast<uint32_t>(bytes);
  put(0, &next, 4);
  for (int i = 0; i < 4; ++i) {
    int64_t time = 1000 + i;
    put(8 + 8 * i, &time, 8);
  }
  put(40, &size, 8);
  put(56, &attributes, 4);
  uint32_t name_bytes = static_cast<uint32_t>(name.size() * 2);
  put(60, &name_bytes, 4);
  put(tag_field_offset, &tag, 4);
  for (size_t i = 0; i < id_bytes; ++i) out[72 + i] = static_cast<uint8_t>(0xA0 + i);
  put(name_offset, name.data(), name.size() * 2);
  return out;
}

std::u16string name_of(const DirRecord& r) {
  std::u16string name(r.name_units, u'\0');
  memcpy(name.data(), r.name, r.name_units * 2);
  return name;
}

TEST(DirRecords, ExtendedIdentifierLayout) {
  std::vector<uint8_t> buffer = record(88, u"file.txt", 0x20, 1234, 68, 0, 16, false);
  std::vector<uint8_t> link = record(88, u"link", 0x410, 0, 68, kReparseTagSymlink, 16, true);
  size_t second = buffer.size();
  buffer.insert(buffer.end(), link.begin(), link.end());

  DirRecord r{};
  ASSERT_TRUE(decode_extended_id_record(buffer.data(), buffer.size(), 0, &r));
  EXPECT_EQ(name_of(r), u"file.txt");
  EXPECT_EQ(r.next_offset, second);
  EXPECT_EQ(r.info.size, 1234u);
  EXPECT_EQ(r.info.attributes, 0x20u);
  EXPECT_EQ(r.info.creation_time, 1000);
  EXPECT_EQ(r.info.change_time, 1003);
  EXPECT_EQ(r.info.file_id[15], 0xAF);
  EXPECT_EQ(r.reparse_tag, 0u);

  ASSERT_TRUE(decode_extended_id_record(buffer.data(), buffer.size(), second, &r));
  EXPECT_EQ(name_of(r), u"link");
  EXPECT_EQ(r.next_offset, 0u);
  EXPECT_EQ(r.reparse_tag, kReparseTagSymlink);
  file_info_derive(&r.info, r.reparse_tag);
  EXPECT_TRUE(r.info.is_link);
  EXPECT_FALSE(r.info.is_folder);

  // A record cut short by the filled size is refused.
  EXPECT_FALSE(decode_extended_id_record(buffer.data(), buffer.size() - 1, second, &r));
  EXPECT_FALSE(decode_extended_id_record(buffer.data(), 50, 0, &r));
  EXPECT_FALSE(decode_extended_id_record(buffer.data(), buffer.size(), buffer.size() + 8, &r));
}

TEST(DirRecords, FullIdentifierLayoutCarriesTheTagInTheEaSize) {
  std::vector<uint8_t> buffer = record(80, u"mount", 0x410, 0, 64, kReparseTagMountPoint, 8, true);
  DirRecord r{};
  ASSERT_TRUE(decode_full_id_record(buffer.data(), buffer.size(), 0, &r));
  EXPECT_EQ(name_of(r), u"mount");
  EXPECT_EQ(r.reparse_tag, kReparseTagMountPoint);
  EXPECT_EQ(r.info.file_id[7], 0xA7);
  EXPECT_EQ(r.info.file_id[8], 0);

  // Without the reparse attribute the EA size is just an EA size.
  buffer = record(80, u"plain", 0x10, 0, 64, 77, 8, true);
  ASSERT_TRUE(decode_full_id_record(buffer.data(), buffer.size(), 0, &r));
  EXPECT_EQ(r.reparse_tag, 0u);
  file_info_derive(&r.info, r.reparse_tag);
  EXPECT_TRUE(r.info.is_folder);

  // An odd name length is malformed.
  uint32_t odd = 3;
  memcpy(buffer.data() + 60, &odd, 4);
  EXPECT_FALSE(decode_full_id_record(buffer.data(), buffer.size(), 0, &r));
}

TEST(FileInfoDerive, SummaryBits) {
  struct Case {
    uint32_t attributes;
    uint32_t tag;
    uint8_t summary, link, folder;
    uint64_t size;
  } const cases[] = {
      {0x20, 0, 0x28, 0, 0, 10},
      {0x2020 | 0x1, 0, 0x21, 0, 0, 10},
      {0x16, 0, 0x06, 0, 1, 0},
      {0x410, kReparseTagMountPoint, 0x00, 1, 0, 0},
      {0x420, kReparseTagSymlink, 0x20, 1, 0, 0},
      {0x410, 0x80000013, 0x00, 0, 1, 0},  // another kind of reparse point is no link
  };
  for (const Case& c : cases) {
    FileInfo info{};
    info.attributes = c.attributes;
    info.size = 10;
    file_info_derive(&info, c.tag);
    EXPECT_EQ(info.summary, c.summary) << c.attributes;
    EXPECT_EQ(info.is_link, c.link);
    EXPECT_EQ(info.is_folder, c.folder);
    EXPECT_EQ(info.size, c.size);
  }
}

class ListingTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { listing_force_fallback_class(GetParam()); }
  void TearDown() override { listing_force_fallback_class(false); }

  std::u16string path(const std::u16string& name) const { return folder_.path().u16string() + u"/" + name; }

  static void make_file(const std::u16string& file, size_t size) {
    FileHandle handle = kInvalidFileHandle;
    ASSERT_EQ(file_open(&handle, file.c_str(), 0x018C), kOk);
    std::string data(size, 'x');
    uint32_t done = 0;
    ASSERT_EQ(file_write(handle, data.data(), static_cast<uint32_t>(size), &done), kOk);
    handle_close(handle);
  }

  struct Entry {
    std::u16string path;
    FileInfo info;
    bool has_info;
  };
  static std::map<std::u16string, Entry> list(const std::u16string& folder, uint32_t flags, ErrorCode* end) {
    std::map<std::u16string, Entry> entries;
    Listing* listing = nullptr;
    *end = listing_open(&listing, folder.c_str(), flags);
    if (*end != kOk) return entries;
    for (;;) {
      const char16_t* entry_path = nullptr;
      size_t offset = 0;
      const FileInfo* info = nullptr;
      *end = listing_next(listing, &entry_path, &offset, &info);
      if (*end != kOk) break;
      std::u16string full(entry_path);
      entries[full.substr(offset)] = Entry{full, info ? *info : FileInfo{}, info != nullptr};
    }
    // The end repeats.
    EXPECT_EQ(listing_next(listing, nullptr, nullptr, nullptr), *end);
    listing_release(listing);
    return entries;
  }

  test::TempFolder folder_;
};

TEST_P(ListingTest, EmptyFolderEndsAtOnce) {
  ErrorCode end = kOk;
  EXPECT_TRUE(list(folder_.path().u16string(), 0, &end).empty());
  EXPECT_EQ(end, kErrorNoMoreFiles);
}

TEST_P(ListingTest, EntriesWithTheirDescriptions) {
  make_file(path(u"a.txt"), 5);
  make_file(path(u"b"), 0);
  std::u16string long_name(200, u'n');
  make_file(path(long_name), 1);
  ASSERT_EQ(folder_create(path(u"sub").c_str()), kOk);

  ErrorCode end = kOk;
  auto entries = list(folder_.path().u16string(), 0, &end);
  EXPECT_EQ(end, kErrorNoMoreFiles);
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries.count(u"."), 0u);
  const Entry& a = entries[u"a.txt"];
  EXPECT_EQ(a.info.size, 5u);
  EXPECT_FALSE(a.info.is_folder);
  EXPECT_TRUE(a.info.summary & 0x8);
  EXPECT_NE(a.info.last_write_time, 0);
  EXPECT_EQ(entries[long_name].info.size, 1u);
  EXPECT_TRUE(entries[u"sub"].info.is_folder);
  EXPECT_EQ(entries[u"sub"].info.size, 0u);

  // The entry's path is the folder's full path, a backslash and the name.
  FileInfo folder_info{};
  ASSERT_EQ(path_get_info(folder_.path().u16string().c_str(), true, &folder_info), kOk);
  EXPECT_TRUE(folder_info.is_folder);
  EXPECT_EQ(a.info.volume_serial, folder_info.volume_serial);
  std::u16string via_listing = a.path;
  EXPECT_EQ(via_listing.substr(via_listing.size() - 6), u"\\a.txt");
  FileInfo direct{};
  ASSERT_EQ(path_get_info(via_listing.c_str(), true, &direct), kOk);
  EXPECT_EQ(direct.size, 5u);
  EXPECT_EQ(memcmp(direct.file_id, a.info.file_id, 16), 0);
}

TEST_P(ListingTest, ManyEntriesSpanSeveralQueries) {
  const int count = 700;
  for (int i = 0; i < count; ++i) {
    std::string number = std::to_string(i);
    make_file(path(u"entry-with-a-rather-long-name-" + std::u16string(number.begin(), number.end())), 0);
  }
  ErrorCode end = kOk;
  EXPECT_EQ(list(folder_.path().u16string(), 0, &end).size(), size_t(count));
  EXPECT_EQ(end, kErrorNoMoreFiles);
}

TEST_P(ListingTest, OpenFailures) {
  make_file(path(u"file"), 1);
  Listing* listing = reinterpret_cast<Listing*>(1);
  EXPECT_EQ(listing_open(&listing, path(u"missing").c_str(), 0), kErrorFileNotFound);
  EXPECT_EQ(listing, nullptr);
  EXPECT_EQ(listing_open(&listing, path(u"file").c_str(), 0), 267u);
  EXPECT_EQ(listing_open(&listing, u"\\\\server", 0), kErrorInvalidName);
}

TEST_P(ListingTest, LinksByFlags) {
  test::TempFolder outside;
  make_file(outside.path().u16string() + u"/inside.txt", 3);
  std::string error = test::make_folder_link(outside.path(), folder_.path() / "link");
  if (error.empty()) error = test::make_folder_link(folder_.path() / "gone", folder_.path() / "dangling");
  if (!error.empty()) GTEST_SKIP() << "links cannot be made here: " << error;

  ErrorCode end = kOk;
  auto followed = list(folder_.path().u16string(), 0, &end);
  ASSERT_EQ(followed.size(), 2u) << "listing ended with " << end;
  EXPECT_TRUE(followed[u"link"].info.is_folder);
  EXPECT_TRUE(followed[u"link"].info.reached_through_link);
  EXPECT_FALSE(followed[u"link"].info.is_link);
  EXPECT_TRUE(followed[u"dangling"].info.is_link);
  EXPECT_TRUE(followed[u"dangling"].info.link_target_unreachable);

  auto themselves = list(folder_.path().u16string(), LISTING_LINKS_AS_THEMSELVES, &end);
  EXPECT_TRUE(themselves[u"link"].info.is_link);
  EXPECT_FALSE(themselves[u"link"].info.is_folder);
  EXPECT_FALSE(themselves[u"link"].info.reached_through_link);

  auto without = list(folder_.path().u16string(), LISTING_LINKS_WITHOUT_INFO, &end);
  EXPECT_FALSE(without[u"link"].has_info);
  auto both = list(folder_.path().u16string(), LISTING_LINKS_WITHOUT_INFO | LISTING_LINKS_AS_THEMSELVES, &end);
  EXPECT_TRUE(both[u"link"].has_info);
  EXPECT_TRUE(both[u"link"].info.is_link);

  FileInfo info{};
  ASSERT_EQ(path_get_info(path(u"link").c_str(), false, &info), kOk);
  EXPECT_TRUE(info.is_link);
  ASSERT_EQ(path_get_info(path(u"link").c_str(), true, &info), kOk);
  EXPECT_TRUE(info.is_folder);
}

INSTANTIATE_TEST_SUITE_P(Classes, ListingTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "FallbackClass" : "FirstClass";
                         });

TEST(PathGetInfo, TimesSettersAndBadInput) {
  test::TempFolder folder;
  std::u16string file = folder.path().u16string() + u"/t.bin";
  FileHandle handle = kInvalidFileHandle;
  ASSERT_EQ(file_open(&handle, file.c_str(), 0x018C), kOk);
  const int64_t when = 132000000000000000LL;  // 2019
  EXPECT_EQ(file_set_write_time(handle, when), kOk);
  EXPECT_EQ(file_set_creation_time(handle, when - 10000000), kOk);
  handle_close(handle);
  FileInfo info{};
  ASSERT_EQ(path_get_info(file.c_str(), true, &info), kOk);
  EXPECT_EQ(info.last_write_time, when);
  EXPECT_EQ(path_get_info(nullptr, true, &info), kErrorOutOfMemory);
  EXPECT_EQ(path_get_info(u"", true, &info), kErrorInvalidName);
  EXPECT_EQ(path_get_info((file + u"x").c_str(), true, nullptr), kErrorFileNotFound);
}

}  // namespace
}  // namespace sm
