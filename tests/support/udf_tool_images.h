// UDF images made by the real tools (genisoimage, mkudffs with udfclient) and
// their listing by 7z, the independent reader the tests compare against.
// Linux only: under Windows the tools cannot run and every maker reports why.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace sm::test {

// Writes the sample tree the tool images carry: a 150-character name, a
// non-ASCII name, nested folders, an empty folder, an empty file and a file
// of several sectors.
void write_udf_sample_tree(const std::filesystem::path& folder);

// Each returns an empty text on success, else why the image was not made.
std::string make_genisoimage_udf(const std::filesystem::path& tree, const std::filesystem::path& image);
// `revision` as mkudffs takes it ("0x0201"); udfclient copies the tree in.
std::string make_mkudffs_udf(const std::filesystem::path& tree, const std::filesystem::path& image,
                             const char* revision);

struct ListedEntry {
  std::string path;  // '/' between names
  bool folder;
  uint64_t size;     // 0 for folders
  bool operator==(const ListedEntry&) const = default;
  bool operator<(const ListedEntry& other) const { return path < other.path; }
};

// `7z l -slt` of the image read as UDF, sorted by path; empty on failure.
std::vector<ListedEntry> list_udf_with_7z(const std::filesystem::path& image);

}  // namespace sm::test
