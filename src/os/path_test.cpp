#include "os/path.h"

#include <gtest/gtest.h>

#include <string>

#include "os/process_facts.h"

namespace sm {
namespace {

std::u16string text(const char16_t* value) { return value ? std::u16string(value) : std::u16string(u"<null>"); }

class PoolTest : public ::testing::Test {
 protected:
  ~PoolTest() override { pool.ReleaseAll(); }
  ScratchPool pool;
};

using PathCanonical = PoolTest;

TEST_F(PathCanonical, Table) {
  struct Case {
    const char16_t* path;
    const char16_t* canonical;
  } const cases[] = {
      {u"C:/a//b/./c/..", u"C:\\a\\b"},
      {u"a\\..\\..\\b", u"..\\b"},
      {u"C:\\..\\x", u"C:\\x"},
      {u"C:\\a\\...\\b", u"C:\\b"},
      {u"..a", u"..a"},
      {u"C:\\a\\", u"C:\\a\\"},
      {u".", u"."},
      {u"a\\..", u"."},
      {u"\\\\server\\share", u"\\\\server\\share\\"},
      {u"\\\\server\\share\\x\\..\\..\\y", u"\\\\server\\share\\y"},
      {u"\\x\\.\\y", u"\\x\\y"},
      {u"/tmp//x/", u"\\tmp\\x\\"},
      {u"C:", u"C:"},
      {u"C:..\\x", u"C:..\\x"},
      {u"C:\\", u"C:\\"},
      {u"a/b\\c", u"a\\b\\c"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(text(path_canonical(pool, c.path)), text(c.canonical)) << text(c.path).size();
  }
  EXPECT_EQ(path_canonical(pool, nullptr), nullptr);
  EXPECT_EQ(path_canonical(pool, u""), nullptr);
  EXPECT_EQ(path_canonical(pool, u"\\\\server"), nullptr);
}

TEST_F(PathCanonical, LongPathsTakeTheSlowRoad) {
  std::u16string path = u"C:";
  std::u16string expected = u"C:";
  for (int i = 0; i < 200; ++i) {
    path += u"\\dir" + std::u16string(1, char16_t(u'a' + i % 26)) + u"\\.\\x\\..";
    expected += u"\\dir" + std::u16string(1, char16_t(u'a' + i % 26));
  }
  EXPECT_EQ(text(path_canonical(pool, path.c_str())), expected);
  std::u16string climbs;
  for (int i = 0; i < 200; ++i) climbs += u"...\\";
  std::u16string up;
  for (int i = 0; i < 400; ++i) up += u"..\\";
  EXPECT_EQ(text(path_canonical(pool, climbs.c_str())), up);
}

TEST(PathAnalyse, Anatomy) {
  struct Case {
    const char16_t* path;
    ErrorCode result;
    size_t root;
    bool rooted;
    size_t name;
    size_t extension;
  } const cases[] = {
      {u"C:\\x\\a.b.exe", kOk, 2, true, 5, 8},
      {u"C:x", kOk, 2, false, 2, 3},
      {u"\\x", kOk, 0, true, 1, 2},
      {u".profile", kOk, 0, false, 0, 8},
      {u"dir.d\\name", kOk, 0, false, 6, 10},
      {u"\\\\server\\share\\f.txt", kOk, 14, true, 15, 16},
      {u"\\\\server\\share", kOk, 14, true, 14, 14},
      {u"//s/h/", kOk, 5, true, 6, 6},
      {u"\\\\server", kErrorInvalidName, 0, false, 0, 8},
      {u"\\\\\\share", kErrorInvalidName, 0, false, 0, 8},
      {u"\\\\server\\", kErrorInvalidName, 0, false, 0, 9},
      {u"", kErrorInvalidName, 0, false, 0, 0},
  };
  for (const Case& c : cases) {
    size_t root = 99, name = 99, extension = 99;
    bool rooted = true;
    EXPECT_EQ(path_analyse(c.path, &root, &rooted, &name, &extension), c.result) << text(c.path).size();
    EXPECT_EQ(root, c.root);
    EXPECT_EQ(rooted, c.rooted);
    if (c.result == kOk) {
      EXPECT_EQ(name, c.name);
    }
    EXPECT_EQ(extension, c.extension);
  }
  EXPECT_EQ(path_analyse(nullptr, nullptr, nullptr, nullptr, nullptr), kErrorInvalidName);
}

using PathJoin = PoolTest;

TEST_F(PathJoin, ExactlyOneSeparator) {
  EXPECT_EQ(text(path_join(pool, u"C:\\a\\", u"\\b")), u"C:\\a\\b");
  EXPECT_EQ(text(path_join(pool, u"C:\\a", u"b")), u"C:\\a\\b");
  EXPECT_EQ(text(path_join(pool, u"C:\\a\\\\", u"b")), u"C:\\a\\\\b");
  EXPECT_EQ(text(path_join(pool, u"", u"b")), u"\\b");
  EXPECT_EQ(text(path_join(pool, nullptr, nullptr)), u"\\");
}

using PathFull = PoolTest;

TEST_F(PathFull, AgainstAGivenBase) {
  struct Case {
    const char16_t* base;
    const char16_t* path;
    const char16_t* full;
  } const cases[] = {
      {u"C:\\w", u"x", u"C:\\w\\x"},
      {u"C:\\w", u"\\x", u"C:\\x"},
      {u"C:\\w", u"c:x", u"C:\\w\\x"},
      {u"C:\\w", u"..\\..\\x", u"C:\\x"},
      {u"C:\\w", u"", u"C:\\w"},
      {u"C:\\w\\", u"a/./b", u"C:\\w\\a\\b"},
      {u"\\\\srv\\sh\\d", u"\\x", u"\\\\srv\\sh\\x"},
      {u"\\home\\u", u"x", u"\\home\\u\\x"},
      {u"\\home\\u", u"\\x", u"\\x"},
      {u"C:\\w", u"D:\\y", u"D:\\y"},
      {u"C:\\w", u"\\\\s\\h\\..", u"\\\\s\\h\\"},
  };
  for (const Case& c : cases) EXPECT_EQ(text(path_full(pool, c.base, c.path)), text(c.full));
  EXPECT_EQ(path_full(pool, u"C:\\w", u"\\\\server"), nullptr);
  EXPECT_EQ(pool.failures, 0u);
}

TEST_F(PathFull, OtherDriveUsesItsOwnFolderOrItsRoot) {
  char16_t* full = path_full(pool, u"C:\\w", u"D:x");
  char16_t* drive = drive_current_folder(pool, u'D');
  if (drive) {
    EXPECT_EQ(text(full), text(path_join(pool, drive, u"x")));
  } else {
    EXPECT_EQ(text(full), u"D:\\x");
  }
}

TEST_F(PathFull, RelativeBaseAndNoBaseUseTheCurrentFolder) {
  char16_t* current = current_folder(pool);
  ASSERT_NE(current, nullptr);
  EXPECT_EQ(text(path_full(pool, nullptr, u"x")), text(path_canonical(pool, path_join(pool, current, u"x"))));
  EXPECT_EQ(text(path_full(pool, u"sub", u"x")),
            text(path_canonical(pool, path_join(pool, path_join(pool, current, u"sub"), u"x"))));
  EXPECT_EQ(text(path_full(pool, u".", u"x")), text(path_full(pool, nullptr, u"x")));
}

}  // namespace
}  // namespace sm
