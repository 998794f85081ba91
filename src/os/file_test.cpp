#include "os/file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "os/transfer.h"
#include "support/temp_folder.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace sm {
namespace {

std::u16string text(const char16_t* value) { return value ? std::u16string(value) : std::u16string(u"<null>"); }

TEST(OpenFlags, MapToTheNativeOpen) {
  struct Case {
    uint32_t flags;
    NativeOpen open;
  } const cases[] = {
      {0x0003, {0x120089, 7, 6, 1, 0x20}},
      {0x0023, {0x120089, 5, 6, 1, 0x20}},
      {0x018C, {0x12019A, 5, 0x20, 5, 0x20}},
      {0x0803, {0x1200A9, 7, 6, 1, 0x20}},
      {0x0080, {0x12019A, 5, 0x20, 3, 0x20}},
      {0x0100, {0x12008A, 5, 6, 4, 0x20}},
      {0x0008 | 0x0040, {0x12008A, 7, 6, 1, 0x20}},
      {0x0008 | 0x0040 | 0x0020, {0x12008A, 5, 6, 1, 0x20}},
      {0x0004, {0x120198, 7, 6, 1, 0x20}},
      {0x0200 | 0x0002, {0x120089, 7, 6, 1, 0x28}},
      {0x0400 | 0x0002, {0x020089, 7, 6, 1, 0x00}},
      {0x0001 | 0xFFFF0000u, {0x120088, 7, 6, 1, 0x20}},
  };
  for (const Case& c : cases) {
    NativeOpen open = open_flags_to_native(c.flags);
    SCOPED_TRACE(c.flags);
    EXPECT_EQ(open.access, c.open.access);
    EXPECT_EQ(open.share, c.open.share);
    EXPECT_EQ(open.attributes, c.open.attributes);
    EXPECT_EQ(open.disposition, c.open.disposition);
    EXPECT_EQ(open.options, c.open.options);
  }
}

TEST(NtNameFromPath, NativeNames) {
  ScratchPool pool;
  struct Case {
    const char16_t* path;
    const char16_t* name;
  } const cases[] = {
      {u"C:\\a\\..\\b", u"\\??\\C:\\b"},
      {u"\\\\?\\C:\\x", u"\\??\\C:\\x"},
      {u"\\\\.\\PhysicalDrive0", u"\\??\\PhysicalDrive0"},
      {u"\\\\.\\NUL", u"\\??\\NUL"},
      {u"\\\\server\\share\\f", u"\\??\\UNC\\server\\share\\f"},
      {u"\\\\=\\Device\\Null", u"\\Device\\Null"},
      {u"C:\\", u"\\??\\C:\\"},
  };
  for (const Case& c : cases) {
    NtName name{};
    ASSERT_EQ(nt_name_from_path(pool, c.path, &name), kOk) << text(c.name).size();
    EXPECT_EQ(text(name.text), text(c.name));
    EXPECT_EQ(name.length, text(c.name).size() * 2);
    EXPECT_EQ(name.maximum_length, name.length + 2);
  }
  NtName name{};
  EXPECT_EQ(nt_name_from_path(pool, u"\\\\server", &name), kErrorInvalidName);
  EXPECT_EQ(name.text, nullptr);

  // The counted name holds at most 0xFFFF bytes, its maximum length included.
  std::u16string longest = u"C:\\" + std::u16string(0x7FFE - 4 - 3, u'a');
  EXPECT_EQ(nt_name_from_path(pool, longest.c_str(), &name), kOk);
  EXPECT_EQ(name.maximum_length, 0xFFFE);
  longest += u'b';
  EXPECT_EQ(nt_name_from_path(pool, longest.c_str(), &name), kErrorInvalidName);
  std::u16string huge = u"C:\\" + std::u16string(100000, u'x');
  EXPECT_EQ(nt_name_from_path(pool, huge.c_str(), &name), kErrorInvalidName);
  pool.ReleaseAll();
}

TEST(CompactErrors, BothDirections) {
  struct Case {
    ErrorCode error;
    uint32_t compact;
  } const to_compact[] = {{0, 0},    {5, 5},    {995, 2},   {4, 7},     {3, 9},    {267, 19},
                          {1305, 3}, {80, 10},  {112, 11},  {737, 21},  {18, 20},  {0xFFFFFFFF, 7}};
  for (const Case& c : to_compact) EXPECT_EQ(error_to_compact(c.error), c.compact) << c.error;
  const ErrorCode from_compact[] = {0, 109, 1223, 1, 87, 5, 14, 31, 1168, 3, 183,
                                    39, 123, 145, 38, 5, 303, 11, 121, 267, 18, 737};
  for (uint32_t compact = 0; compact < 22; ++compact) EXPECT_EQ(compact_to_error(compact), from_compact[compact]);
  EXPECT_EQ(compact_to_error(22), 31u);
  EXPECT_EQ(compact_to_error(0xFFFFFFFF), 31u);
}

TEST(ErrorFromStatus, CommonStatuses) {
  EXPECT_EQ(error_from_status(0), 0u);
  EXPECT_EQ(error_from_status(0xC0000034), kErrorFileNotFound);
  EXPECT_EQ(error_from_status(0xC000003A), kErrorPathNotFound);
  EXPECT_EQ(error_from_status(0xC0000022), kErrorAccessDenied);
  EXPECT_EQ(error_from_status(0xC0000043), kErrorSharingViolation);
  EXPECT_EQ(error_from_status(0xC0000035), kErrorAlreadyExists);
  EXPECT_EQ(error_from_status(0xC0000101), kErrorFolderNotEmpty);
  EXPECT_EQ(error_from_status(0x80000006), kErrorNoMoreFiles);
}

// A platform call that answers from a script of outcomes.
struct ScriptedCall {
  struct Step {
    ErrorCode error;
    uint32_t moved;  // ~0u: all that was asked
  };
  std::vector<Step> steps;
  std::vector<uint32_t> asked;
  size_t next = 0;

  static ErrorCode call(void* context, void*, uint32_t count, uint32_t* moved) {
    auto* self = static_cast<ScriptedCall*>(context);
    self->asked.push_back(count);
    Step step = self->next < self->steps.size() ? self->steps[self->next++] : Step{kOk, ~0u};
    *moved = step.moved == ~0u ? count : step.moved;
    return step.error;
  }
};

TEST(TransferLoop, SplitsAndEndRules) {
  struct Case {
    const char* name;
    uint32_t count;
    std::vector<ScriptedCall::Step> steps;
    ErrorCode result;
    uint32_t done;
    std::vector<uint32_t> asked;
  };
  const uint32_t M = 1u << 20;
  const Case cases[] = {
      {"40 MiB filled", 40 * M, {}, kOk, 40 * M, {16 * M, 16 * M, 8 * M}},
      {"short call ends", 40 * M, {{kOk, 5}}, kOk, 5, {16 * M}},
      {"end of file after one call", 40 * M, {{kOk, ~0u}, {kErrorEndOfFile, 7}}, kOk, 16 * M, {16 * M, 16 * M}},
      {"disk full", 100, {{kErrorDiskFull, 0}}, kOk, 0, {100}},
      {"broken pipe", 100, {{kErrorBrokenPipe, 0}}, kOk, 0, {100}},
      {"no data", 100, {{232, 0}}, kOk, 0, {100}},
      {"aborted first is asked again", 100, {{995, 0}, {995, 0}, {kOk, ~0u}}, kOk, 100, {100, 100, 100}},
      {"aborted later ends", 20 * M, {{kOk, ~0u}, {995, 0}}, kOk, 16 * M, {16 * M, 4 * M}},
      {"other error keeps its count", 20 * M, {{kOk, ~0u}, {kErrorAccessDenied, 0}}, kErrorAccessDenied, 16 * M,
       {16 * M, 4 * M}},
      {"nothing to move", 0, {}, kOk, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedCall call{c.steps, {}, 0};
    uint32_t done = 12345;
    EXPECT_EQ(transfer_loop(ScriptedCall::call, &call, nullptr, c.count, &done), c.result);
    EXPECT_EQ(done, c.done);
    EXPECT_EQ(call.asked, c.asked);
  }
}

class FileTest : public ::testing::Test {
 protected:
  std::u16string path(const char* name) const { return (folder_.path() / name).u16string(); }
  std::u16string root() const { return folder_.path().u16string(); }

  static std::string read_all(const std::u16string& file) {
    FileHandle handle = kInvalidFileHandle;
    if (file_open(&handle, file.c_str(), OPEN_QUERY | OPEN_READ) != kOk) return "<unreadable>";
    std::string data(1000, '\0');
    uint32_t done = 0;
    file_read(handle, data.data(), static_cast<uint32_t>(data.size()), &done);
    handle_close(handle);
    data.resize(done);
    return data;
  }

  static ErrorCode write_file(const std::u16string& file, const std::string& data, uint32_t flags = 0x018C) {
    FileHandle handle = kInvalidFileHandle;
    ErrorCode result = file_open(&handle, file.c_str(), flags);
    if (result != kOk) return result;
    uint32_t done = 0;
    result = file_write(handle, data.data(), static_cast<uint32_t>(data.size()), &done);
    handle_close(handle);
    if (result == kOk && done != data.size()) result = kErrorDiskFull;
    return result;
  }

  test::TempFolder folder_;
};

TEST_F(FileTest, CreateTruncateAndReadBack) {
  std::u16string file = path("a.txt");
  EXPECT_EQ(file_open(nullptr, file.c_str(), 0x0003), kErrorFileNotFound);
  ASSERT_EQ(write_file(file, "hello world"), kOk);
  EXPECT_EQ(read_all(file), "hello world");
  ASSERT_EQ(write_file(file, "bye"), kOk);  // 0x018C truncates
  EXPECT_EQ(read_all(file), "bye");
  EXPECT_EQ(file_open(nullptr, file.c_str(), 0x0003), kOk);  // existence test

  // Creating without truncating keeps the rest of the data.
  ASSERT_EQ(write_file(file, "B", OPEN_CREATE | OPEN_WRITE), kOk);
  EXPECT_EQ(read_all(file), "Bye");
}

TEST_F(FileTest, CreatingOverAHiddenFileRetries) {
  std::u16string file = path("hidden.txt");
  ASSERT_EQ(write_file(file, "old contents"), kOk);
#ifdef _WIN32
  ASSERT_TRUE(SetFileAttributesW(reinterpret_cast<const wchar_t*>(file.c_str()), FILE_ATTRIBUTE_HIDDEN));
#endif
  ASSERT_EQ(write_file(file, "new"), kOk);
  EXPECT_EQ(read_all(file), "new");
#ifdef _WIN32
  EXPECT_TRUE(GetFileAttributesW(reinterpret_cast<const wchar_t*>(file.c_str())) & FILE_ATTRIBUTE_HIDDEN);
#endif
}

TEST_F(FileTest, SharingViolation) {
#ifndef _WIN32
  GTEST_SKIP() << "POSIX has no share modes";
#else
  std::u16string file = path("shared.txt");
  FileHandle writer = kInvalidFileHandle;
  ASSERT_EQ(file_open(&writer, file.c_str(), 0x018C), kOk);
  FileHandle reader = kInvalidFileHandle;
  EXPECT_EQ(file_open(&reader, file.c_str(), 0x0023), kErrorSharingViolation);
  EXPECT_EQ(reader, kInvalidFileHandle);
  EXPECT_EQ(file_open(&reader, file.c_str(), 0x0003), kOk);
  handle_close(reader);
  handle_close(writer);
#endif
}

TEST_F(FileTest, LargeReadsSeeksAndEndOfFile) {
  std::u16string file = path("big.bin");
  const uint32_t size = 40u << 20;
  std::vector<uint8_t> data(size);
  for (uint32_t i = 0; i < size; i += 4096) data[i] = static_cast<uint8_t>(i >> 12);
  data[size - 1] = 0x5A;
  FileHandle handle = kInvalidFileHandle;
  ASSERT_EQ(file_open(&handle, file.c_str(), 0x018C), kOk);
  uint32_t done = 0;
  ASSERT_EQ(file_write(handle, data.data(), size, &done), kOk);
  EXPECT_EQ(done, size);
  handle_close(handle);

  ASSERT_EQ(file_open(&handle, file.c_str(), 0x0003), kOk);
  uint64_t file_size = 0;
  EXPECT_EQ(file_get_size(handle, &file_size), kOk);
  EXPECT_EQ(file_size, size);
  EXPECT_EQ(file_read(handle, data.data(), 16, &done), kOk);  // at the end now
  EXPECT_EQ(done, 0u);

  ASSERT_EQ(file_seek(handle, 0, 0), kOk);
  std::vector<uint8_t> back(size + 100);
  EXPECT_EQ(file_read(handle, back.data(), size + 100, &done), kOk);
  EXPECT_EQ(done, size);
  back.resize(size);
  EXPECT_TRUE(back == data);

  uint8_t byte = 0;
  ASSERT_EQ(file_seek(handle, size - 1, 0), kOk);
  EXPECT_EQ(file_read(handle, &byte, 1, &done), kOk);
  EXPECT_EQ(byte, 0x5A);
  handle_close(handle);
}

TEST_F(FileTest, BadHandlesAndPaths) {
  uint32_t done = 99;
  char buffer[4];
  for (FileHandle handle : {FileHandle(nullptr), kInvalidFileHandle}) {
    EXPECT_EQ(file_read(handle, buffer, 4, &done), kErrorInvalidHandle);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(file_write(handle, buffer, 4, nullptr), kErrorInvalidHandle);
    EXPECT_EQ(file_seek(handle, 0, 0), kErrorInvalidHandle);
    uint64_t size = 1;
    EXPECT_EQ(file_get_size(handle, &size), kErrorInvalidHandle);
    EXPECT_EQ(file_set_write_time(handle, 1), kErrorInvalidHandle);
    EXPECT_EQ(file_mark_for_deletion(handle), kErrorInvalidHandle);
    FileHandle copy = nullptr;
    EXPECT_EQ(handle_duplicate(&copy, handle), kErrorInvalidHandle);
    EXPECT_EQ(copy, kInvalidFileHandle);
    handle_close(handle);  // ignored
  }
  FileHandle handle = nullptr;
  EXPECT_EQ(file_open(&handle, nullptr, 3), kErrorOutOfMemory);
  EXPECT_EQ(handle, kInvalidFileHandle);
  EXPECT_EQ(file_open(&handle, u"", 3), kErrorInvalidName);
  EXPECT_EQ(file_open(&handle, u"\\\\server", 3), kErrorInvalidName);
  std::u16string huge = root() + u"\\" + std::u16string(40000, u'x');
  EXPECT_EQ(file_open(&handle, huge.c_str(), 0x018C), kErrorInvalidName);
  EXPECT_EQ(path_delete(nullptr), kErrorOutOfMemory);
  EXPECT_EQ(path_delete(u""), kErrorInvalidName);
  EXPECT_EQ(path_query(nullptr, nullptr), kErrorOutOfMemory);
  EXPECT_EQ(path_query(u"", nullptr), kErrorInvalidName);
  EXPECT_EQ(folder_create(u""), kErrorInvalidName);
}

TEST_F(FileTest, FoldersQueriesAndDeletion) {
  std::u16string sub = path("sub");
  EXPECT_EQ(path_query(sub.c_str(), nullptr), kErrorFileNotFound);
  EXPECT_EQ(folder_create((sub + u"\\deeper\\x").c_str()), kErrorPathNotFound);
  ASSERT_EQ(folder_create(sub.c_str()), kOk);
  EXPECT_EQ(folder_create(sub.c_str()), kErrorAlreadyExists);
  bool is_folder = false;
  EXPECT_EQ(path_query(sub.c_str(), &is_folder), kOk);
  EXPECT_TRUE(is_folder);

  std::u16string file = sub + u"\\f.txt";
  ASSERT_EQ(write_file(file, "x"), kOk);
  EXPECT_EQ(path_query(file.c_str(), &is_folder), kOk);
  EXPECT_FALSE(is_folder);
  EXPECT_EQ(path_query((sub + u"\\missing\\f").c_str(), nullptr), kErrorPathNotFound);
  EXPECT_EQ(path_delete(sub.c_str()), kErrorFolderNotEmpty);
  EXPECT_EQ(path_delete(file.c_str()), kOk);
  EXPECT_EQ(path_query(file.c_str(), nullptr), kErrorFileNotFound);
  EXPECT_EQ(path_delete(file.c_str()), kErrorFileNotFound);
  EXPECT_EQ(path_delete(sub.c_str()), kOk);
  EXPECT_EQ(path_query(sub.c_str(), nullptr), kErrorFileNotFound);
}

TEST_F(FileTest, ReadOnlyFilesAreDeleted) {
  std::u16string file = path("ro.txt");
  ASSERT_EQ(write_file(file, "x"), kOk);
#ifdef _WIN32
  ASSERT_TRUE(SetFileAttributesW(reinterpret_cast<const wchar_t*>(file.c_str()), FILE_ATTRIBUTE_READONLY));
#else
  std::filesystem::permissions(folder_.path() / "ro.txt", std::filesystem::perms::owner_read);
#endif
  EXPECT_EQ(path_delete(file.c_str()), kOk);
  EXPECT_EQ(path_query(file.c_str(), nullptr), kErrorFileNotFound);
}

TEST_F(FileTest, DuplicateAndNullDevice) {
  std::u16string file = path("dup.txt");
  ASSERT_EQ(write_file(file, "abcdef"), kOk);
  FileHandle handle = kInvalidFileHandle;
  ASSERT_EQ(file_open(&handle, file.c_str(), 0x0003), kOk);
  FileHandle copy = kInvalidFileHandle;
  ASSERT_EQ(handle_duplicate(&copy, handle), kOk);
  handle_close(handle);
  char buffer[8] = {};
  uint32_t done = 0;
  EXPECT_EQ(file_read(copy, buffer, 8, &done), kOk);
  EXPECT_EQ(std::string(buffer, done), "abcdef");
  handle_close(copy);

  FileHandle null_device = kInvalidFileHandle;
  ASSERT_EQ(null_device_open(&null_device), kOk);
  EXPECT_EQ(file_write(null_device, "xyz", 3, &done), kOk);
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(file_read(null_device, buffer, 8, &done), kOk);
  EXPECT_EQ(done, 0u);
  handle_close(null_device);
  EXPECT_FALSE(is_no_handle(std_handle(StdHandle::kError)));
}

}  // namespace
}  // namespace sm
