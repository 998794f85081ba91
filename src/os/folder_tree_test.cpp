#include <gtest/gtest.h>

#include <string>

#include "os/file.h"
#include "os/listing.h"
#include "os/path.h"
#include "support/folder_link.h"
#include "support/temp_folder.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace sm {
namespace {

class FolderTreeTest : public ::testing::Test {
 protected:
  std::u16string path(const std::u16string& relative) const { return root() + u"\\" + relative; }
  std::u16string root() const { return folder_.path().u16string(); }

  static bool is_folder(const std::u16string& folder) {
    bool result = false;
    return path_query(folder.c_str(), &result) == kOk && result;
  }
  static bool exists(const std::u16string& object) { return path_query(object.c_str(), nullptr) == kOk; }
  static void make_file(const std::u16string& file) { ASSERT_EQ(file_open(nullptr, file.c_str(), 0x018C), kOk); }
  static void make_read_only(const std::u16string& file) {
#ifdef _WIN32
    ASSERT_TRUE(SetFileAttributesW(reinterpret_cast<const wchar_t*>(file.c_str()), FILE_ATTRIBUTE_READONLY));
#else
    ScratchPool pool;
    std::u16string full = path_full(pool, nullptr, file.c_str());
    pool.ReleaseAll();
    std::string narrow(full.begin(), full.end());
    for (char& c : narrow) c = c == '\\' ? '/' : c;
    std::filesystem::permissions(narrow, std::filesystem::perms::owner_read);
#endif
  }

  test::TempFolder folder_;
};

TEST_F(FolderTreeTest, CreateTree) {
  EXPECT_EQ(folder_create_tree(root().c_str()), kOk);
  ScratchPool pool;
  size_t root_length = 0;
  char16_t* full = path_full(pool, nullptr, root().c_str());
  path_analyse(full, &root_length, nullptr, nullptr, nullptr);
  full[root_length] = u'\\';
  full[root_length + 1] = 0;
  EXPECT_EQ(folder_create_tree(full), kOk);  // the root of the volume
  pool.ReleaseAll();

  ASSERT_EQ(folder_create(path(u"a").c_str()), kOk);
  EXPECT_EQ(folder_create_tree(path(u"a\\b/c").c_str()), kOk);
  EXPECT_TRUE(is_folder(path(u"a\\b\\c")));
  EXPECT_EQ(folder_create_tree(path(u"x\\y\\z\\").c_str()), kOk);
  EXPECT_TRUE(is_folder(path(u"x\\y\\z")));
  EXPECT_EQ(folder_create_tree(path(u"a\\b\\c").c_str()), kOk);

  make_file(path(u"a\\file"));
  EXPECT_EQ(folder_create_tree(path(u"a\\file").c_str()), kErrorFileExists);
  EXPECT_NE(folder_create_tree(path(u"a\\file\\below").c_str()), kOk);
  EXPECT_EQ(folder_create_tree(u"\\\\server"), kErrorInvalidParameter);
}

TEST_F(FolderTreeTest, DeleteTreeKeepsWhatLinksPointTo) {
  EXPECT_EQ(folder_delete_tree(path(u"missing").c_str()), kOk);
  EXPECT_EQ(folder_delete_tree(u"\\\\server"), kErrorInvalidName);

  std::u16string top = path(u"top");
  ASSERT_EQ(folder_create_tree((top + u"\\a\\b\\c").c_str()), kOk);
  ASSERT_EQ(folder_create_tree((top + u"\\empty").c_str()), kOk);
  make_file(top + u"\\a\\f1");
  make_file(top + u"\\a\\b\\c\\f2");
  make_file(top + u"\\a\\b\\ro");
  make_read_only(top + u"\\a\\b\\ro");
  make_file(top + u"\\a\\b\\ro2");
  make_read_only(top + u"\\a\\b\\ro2");

  test::TempFolder outside;
  make_file(outside.path().u16string() + u"\\keep.txt");
  std::string error = test::make_folder_link(outside.path(), folder_.path() / "top" / "a" / "link");

  EXPECT_EQ(folder_delete_tree(top.c_str()), kOk);
  EXPECT_FALSE(exists(top));
  EXPECT_TRUE(exists(outside.path().u16string() + u"\\keep.txt"));
  if (!error.empty()) GTEST_SKIP() << "links cannot be made here: " << error;
}

TEST_F(FolderTreeTest, DeleteTreeOfAFile) {
  make_file(path(u"single"));
  EXPECT_EQ(folder_delete_tree(path(u"single").c_str()), kOk);
  EXPECT_FALSE(exists(path(u"single")));
}

TEST_F(FolderTreeTest, TreesDeeperThanTheLimitStayInPlace) {
  std::u16string deep = path(u"deep");
  for (int level = 0; level < 145; ++level) deep += u"\\d";
  ASSERT_EQ(folder_create_tree(deep.c_str()), kOk);
  make_file(deep + u"\\leaf");
  EXPECT_EQ(folder_delete_tree(path(u"deep").c_str()), kErrorFolderNotEmpty);
  EXPECT_TRUE(exists(deep + u"\\leaf"));
  EXPECT_TRUE(exists(path(u"deep")));

  // A tree within the limit goes entirely.
  std::u16string shallow = path(u"shallow");
  for (int level = 0; level < 99; ++level) shallow += u"\\d";
  ASSERT_EQ(folder_create_tree(shallow.c_str()), kOk);
  make_file(shallow + u"\\leaf");
  EXPECT_EQ(folder_delete_tree(path(u"shallow").c_str()), kOk);
  EXPECT_FALSE(exists(path(u"shallow")));

  // Make the deep tree removable for the fixture: cut it in the middle.
  std::u16string middle = path(u"deep");
  for (int level = 0; level < 70; ++level) middle += u"\\d";
  EXPECT_EQ(folder_delete_tree(middle.c_str()), kOk);
  EXPECT_EQ(folder_delete_tree(path(u"deep").c_str()), kOk);
}

}  // namespace
}  // namespace sm
