// Images made at test time by xorriso and genisoimage: what the volume shows
// must be exactly what was put in.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "media/media_test_util.h"
#include "support/media_walk.h"
#include "support/temp_folder.h"

#ifndef _WIN32
#include <sys/time.h>
#endif

namespace sm::test {
namespace {

namespace fs = std::filesystem;

#ifndef _WIN32

struct SourceEntry {
  std::string path;  // UTF-8, '/' separated
  bool folder;
  size_t size;
};

constexpr int64_t kFirstTime = 1700000000;  // seconds since 1970

std::string Content(size_t index, size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + index * 7) % 251);
  return bytes;
}

uint64_t FileTimeOf(int64_t unix_seconds) { return static_cast<uint64_t>(unix_seconds + 11644473600) * 10000000; }

// Writes the entries below root; file i gets the time kFirstTime + i × 3600.
void MakeTree(const fs::path& root, const std::vector<SourceEntry>& entries) {
  for (size_t i = 0; i < entries.size(); ++i) {
    fs::path const path = root / fs::u8path(entries[i].path);
    if (entries[i].folder) {
      fs::create_directories(path);
      continue;
    }
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << Content(i, entries[i].size);
    timeval times[2] = {{kFirstTime, 0}, {kFirstTime + static_cast<time_t>(i) * 3600, 0}};
    ASSERT_EQ(utimes(path.c_str(), times), 0);
  }
}

std::vector<uint8_t> MakeImage(const fs::path& folder, const std::string& command) {
  std::string const line = command + " >" + (folder / "tool.log").string() + " 2>&1";
  EXPECT_EQ(std::system(line.c_str()), 0) << line;
  std::ifstream in(folder / "image.iso", std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> names;
  size_t start = 0;
  for (size_t slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1) {
    names.push_back(path.substr(start, slash - start));
  }
  names.push_back(path.substr(start));
  return names;
}

const std::vector<SourceEntry>& JolietTree() {
  static const std::vector<SourceEntry> entries = {
      {"empty folder", true, 0},
      {"empty.txt", false, 0},
      {"one.bin", false, 1},
      {"sector.bin", false, 2048},
      {"Ünïcödé — 日本語のファイル名 and a rather long tail to pass sixty-four.txt", false, 5000},
      {"a/b/c/d/e/f/g/h/deep file.dat", false, 100000},
      {"a/b/sibling.txt", false, 12},
      {"Mixed Case Folder/Ελληνικά.txt", false, 3},
  };
  return entries;
}

TEST(IsoTools, XorrisoJolietTreeIsWhatWasPutIn) {
  TempFolder temp;
  fs::path const source = temp.path() / "source";
  MakeTree(source, JolietTree());
  std::vector<uint8_t> const image = MakeImage(
      temp.path(), "xorriso -as mkisofs -J -joliet-long -V TOOLS -o '" + (temp.path() / "image.iso").string() +
                       "' '" + source.string() + "'");
  ASSERT_FALSE(image.empty());
  VolumePtr volume = MountBytes(image);
  ASSERT_TRUE(volume);

  std::vector<MediaChild> volumes;
  ASSERT_EQ(ListMedia(volume.get(), {".$media"}, &volumes), kOk);
  ASSERT_EQ(volumes.size(), 3u);
  EXPECT_EQ(volumes[1].name, "volume01");
  EXPECT_EQ(volumes[2].name, "volume02");
  MediaOpenResult root{}, joliet{};
  ASSERT_EQ(OpenMedia(volume.get(), {}, &root), kOk);
  ASSERT_EQ(OpenMedia(volume.get(), {".$media", "volume02"}, &joliet), kOk);
  EXPECT_EQ(root.handle, joliet.handle);  // Joliet is the root
  uint64_t time = 0;
  char16_t* label = nullptr;
  ASSERT_EQ(volume->volume_info(0, &time, &label), kOk);
  EXPECT_EQ(std::u16string(label), u"TOOLS");
  volume->free_buffer(label);

  // Every entry, with its kind, size, time and bytes.
  std::map<std::string, const WalkedEntry*> walked;
  std::vector<WalkedEntry> const entries = WalkMedia(volume.get());
  for (WalkedEntry const& entry : entries) walked[entry.path] = &entry;
  std::vector<SourceEntry> const& tree = JolietTree();
  size_t expected_count = 0;
  std::map<std::string, bool> folders;
  for (size_t i = 0; i < tree.size(); ++i) {
    std::vector<std::string> const names = Split(tree[i].path);
    std::string prefix;
    for (size_t k = 0; k + 1 < names.size(); ++k) {
      prefix += (k ? "/" : "") + names[k];
      folders[prefix] = true;
    }
    if (tree[i].folder) {
      folders[tree[i].path] = true;
      continue;
    }
    ++expected_count;
    auto found = walked.find(tree[i].path);
    ASSERT_NE(found, walked.end()) << tree[i].path;
    EXPECT_EQ(found->second->entry.kind, kMediaKindFile);
    EXPECT_EQ(found->second->entry.size, tree[i].size) << tree[i].path;
    EXPECT_EQ(found->second->entry.last_write_time, FileTimeOf(kFirstTime + static_cast<int64_t>(i) * 3600))
        << tree[i].path;
    std::string const content = Content(i, tree[i].size);
    std::vector<uint8_t> const bytes = ReadMedia(volume.get(), names);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), content) << tree[i].path;
  }
  for (auto const& [path, unused] : folders) {
    auto found = walked.find(path);
    ASSERT_NE(found, walked.end()) << path;
    EXPECT_EQ(found->second->entry.kind, kMediaKindFolder) << path;
  }
  EXPECT_EQ(entries.size(), expected_count + folders.size());

  // image.iso reads back the image.
  EXPECT_EQ(ReadMedia(volume.get(), {".$media", "image.iso"}), image);
}

TEST(IsoTools, GenisoimageLevelOneDropsVersionSuffixes) {
  TempFolder temp;
  fs::path const source = temp.path() / "source";
  std::vector<SourceEntry> const entries = {
      {"readme.txt", false, 10}, {"noext", false, 3}, {"sub/inner.dat", false, 4096}, {"sub/empty", true, 0}};
  MakeTree(source, entries);
  std::vector<uint8_t> const image = MakeImage(
      temp.path(), "genisoimage -V LEVEL1 -o '" + (temp.path() / "image.iso").string() + "' '" + source.string() + "'");
  ASSERT_FALSE(image.empty());
  VolumePtr volume = MountBytes(image);
  ASSERT_TRUE(volume);
  std::vector<MediaChild> volumes;
  ASSERT_EQ(ListMedia(volume.get(), {".$media"}, &volumes), kOk);
  ASSERT_EQ(volumes.size(), 2u);  // no Joliet
  std::vector<std::pair<std::string, uint64_t>> listed;
  for (WalkedEntry const& entry : WalkMedia(volume.get())) listed.emplace_back(entry.path, entry.entry.size);
  std::vector<std::pair<std::string, uint64_t>> const expected = {
      {"NOEXT", 3}, {"README.TXT", 10}, {"SUB", 0}, {"SUB/EMPTY", 0}, {"SUB/INNER.DAT", 4096}};
  EXPECT_EQ(listed, expected);
  std::vector<uint8_t> const inner = ReadMedia(volume.get(), {"sub", "inner.dat"});
  EXPECT_EQ(std::string(inner.begin(), inner.end()), Content(2, 4096));
}

#else

TEST(IsoTools, XorrisoJolietTreeIsWhatWasPutIn) { GTEST_SKIP() << "xorriso is a Linux program: host test only"; }
TEST(IsoTools, GenisoimageLevelOneDropsVersionSuffixes) {
  GTEST_SKIP() << "genisoimage is a Linux program: host test only";
}

#endif

}  // namespace
}  // namespace sm::test
