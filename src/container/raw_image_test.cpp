#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "container/registry.h"
#include "os/file.h"
#include "support/temp_folder.h"

namespace sm {
namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

// The system's form of a path: backslashes; on POSIX a full path keeps its
// root as a leading backslash. Under Wine a Unix path is reached through Z:.
std::u16string system_path(const fs::path& path) {
#ifdef _WIN32
  std::wstring const w = path.wstring();
  std::u16string text(w.begin(), w.end());
  if (!text.empty() && text[0] == u'/') text = u"Z:" + text;
#else
  std::string const s = path.string();
  std::u16string text(s.begin(), s.end());
#endif
  for (char16_t& c : text) {
    if (c == u'/') c = u'\\';
  }
  return text;
}

Bytes file_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A file of `size` bytes with `descriptor` at the start of sector 16.
Bytes image_with_descriptor(const Bytes& descriptor, size_t size = 40 * 2048) {
  Bytes image(size, 0);
  for (size_t i = 0; i < size; ++i) image[i] = uint8_t(i * 7 + 1);
  std::copy(descriptor.begin(), descriptor.end(), image.begin() + 32768);
  return image;
}

Bytes descriptor(uint8_t type, const char* id, uint8_t version) {
  Bytes d(7);
  d[0] = type;
  memcpy(&d[1], id, 5);
  d[6] = version;
  return d;
}

struct DeviceDeleter {
  void operator()(SectorDevice* d) const { d->release(); }
};
using DevicePtr = std::unique_ptr<SectorDevice, DeviceDeleter>;

ErrorCode open(const fs::path& path, DevicePtr& device) {
  SectorDevice* raw = nullptr;
  std::u16string const p = system_path(path);
  ErrorCode const error = open_container(&raw, p.c_str(), kInvalidFileHandle, nullptr, 0);
  device.reset(raw);
  if (error != kOk) {
    EXPECT_EQ(raw, nullptr);
  }
  return error;
}

// Calls the raw probe on a file as open_container would.
ErrorCode probe_file(const fs::path& path) {
  std::u16string const p = system_path(path);
  FileHandle handle = kInvalidFileHandle;
  ErrorCode error = file_open(&handle, p.c_str(), OPEN_QUERY | OPEN_READ);
  if (error != kOk) return error;
  Bytes header = file_bytes(path);
  if (header.size() > kRawImageHeaderSize) header.resize(kRawImageHeaderSize);
  SectorDevice* device = reinterpret_cast<SectorDevice*>(1);
  error = raw_image_probe(&device, p.c_str(), handle, header.data(), uint32_t(header.size()));
  handle_close(handle);
  if (error == kOk) {
    device->release();
  } else {
    EXPECT_EQ(device, nullptr);
  }
  return error;
}

void expect_reads_like_file(SectorDevice* device, const Bytes& file) {
  EXPECT_EQ(device->load(nullptr), kOk);
  EXPECT_EQ(device->sector_size(), 2048u);
  EXPECT_EQ(device->total_size(), file.size());
  EXPECT_EQ(device->session_count(), 0u);
  EXPECT_EQ(device->session_offset(3), 0u);
  Bytes sector(2048);
  ASSERT_EQ(device->read(16 * 2048, sector.data(), 2048), kOk);
  EXPECT_TRUE(std::equal(sector.begin(), sector.end(), file.begin() + 16 * 2048));
  // An unaligned range that ends exactly at the end of the file.
  Bytes tail(1000);
  ASSERT_EQ(device->read(file.size() - 1000, tail.data(), 1000), kOk);
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), file.end() - 1000));
}

fs::path tool_images() {
  const char* dir = getenv("SM_CONTAINER_IMAGES");
  return dir != nullptr ? fs::path(dir) : fs::path();
}

TEST(RawImage, OpensImagesMadeByDiscTools) {
  fs::path dir = tool_images();
  if (dir.empty()) {
    GTEST_SKIP() << "SM_CONTAINER_IMAGES is not set: run through ctest, whose fixture makes the images";
  }
  for (const char* name : {"xorriso.iso", "genisoimage.iso", "mkudffs.udf"}) {
    SCOPED_TRACE(name);
    Bytes const file = file_bytes(dir / name);
    ASSERT_GT(file.size(), 32775u);
    DevicePtr device;
    ASSERT_EQ(open(dir / name, device), kOk);
    expect_reads_like_file(device.get(), file);
  }
}

TEST(RawImage, ProbeAcceptsTheFourVolumeDescriptorsExactly) {
  test::TempFolder folder;
  struct Case {
    Bytes descriptor;
    ErrorCode probe;
  } const cases[] = {
      {descriptor(0x01, "CD001", 0x01), kOk},
      {descriptor(0x00, "BEA01", 0x01), kOk},
      {descriptor(0x00, "NSR02", 0x01), kOk},
      {descriptor(0x00, "NSR03", 0x01), kOk},
      // Near misses: right identifier, wrong type or version byte, or case.
      {descriptor(0x02, "CD001", 0x01), kErrorBadFormat},
      {descriptor(0xFF, "CD001", 0x01), kErrorBadFormat},
      {descriptor(0x01, "CD001", 0x02), kErrorBadFormat},
      {descriptor(0x01, "BEA01", 0x01), kErrorBadFormat},
      {descriptor(0x00, "NSR03", 0x02), kErrorBadFormat},
      {descriptor(0x00, "NSR01", 0x01), kErrorBadFormat},
      {descriptor(0x00, "TEA01", 0x01), kErrorBadFormat},
      {descriptor(0x01, "cd001", 0x01), kErrorBadFormat},
  };
  int n = 0;
  for (const Case& c : cases) {
    fs::path const path = folder.path() / ("image" + std::to_string(n++));
    write_file(path, image_with_descriptor(c.descriptor));
    EXPECT_EQ(probe_file(path), c.probe) << path;
    DevicePtr device;
    EXPECT_EQ(open(path, device), c.probe == kOk ? kOk : kErrorBadFormat) << path;
  }
}

TEST(RawImage, ShortFilesAreEndOfFileToTheProbeAndBadFormatToOpen) {
  test::TempFolder folder;
  Bytes const iso = descriptor(0x01, "CD001", 0x01);
  // Exactly long enough for the descriptor: accepted.
  write_file(folder.path() / "exact", image_with_descriptor(iso, 32775));
  EXPECT_EQ(probe_file(folder.path() / "exact"), kOk);
  DevicePtr device;
  ASSERT_EQ(open(folder.path() / "exact", device), kOk);
  EXPECT_EQ(device->total_size(), 32775u);

  // One byte short of the descriptor, or hardly anything at all.
  Bytes short_file = image_with_descriptor(iso, 32775);
  short_file.pop_back();
  write_file(folder.path() / "short", short_file);
  write_file(folder.path() / "tiny", Bytes(100, 0x01));
  write_file(folder.path() / "empty", Bytes());
  for (const char* name : {"short", "tiny", "empty"}) {
    EXPECT_EQ(probe_file(folder.path() / name), kErrorEndOfFile) << name;
    EXPECT_EQ(open(folder.path() / name, device), kErrorBadFormat) << name;
  }
}

TEST(RawImage, ReadsPastTheEndReopensAfterCloseFilesAndChecksWithoutBuffer) {
  test::TempFolder folder;
  Bytes const file = image_with_descriptor(descriptor(0x00, "BEA01", 0x01), 20 * 2048 + 100);
  write_file(folder.path() / "udf", file);
  DevicePtr device;
  ASSERT_EQ(open(folder.path() / "udf", device), kOk);
  expect_reads_like_file(device.get(), file);

  Bytes buffer(4096);
  EXPECT_EQ(device->read(file.size() - 10, buffer.data(), 11), kErrorEndOfFile);
  EXPECT_EQ(device->read(file.size() + 2048, buffer.data(), 1), kErrorEndOfFile);
  EXPECT_EQ(device->read(5, buffer.data(), 0), kOk);

  // No buffer: nothing is written anywhere; a check may run over the end
  // (verification steps do) but may not start past it.
  EXPECT_EQ(device->read(0, nullptr, uint32_t(file.size())), kOk);
  EXPECT_EQ(device->read(file.size() - 1, nullptr, 262144), kOk);
  EXPECT_EQ(device->read(file.size() + 1, nullptr, 2), kErrorEndOfFile);
  EXPECT_EQ(device->read(~uint64_t{0}, nullptr, 2), kErrorEndOfFile);

  device->close_files();
  device->close_files();
  ASSERT_EQ(device->read(100, buffer.data(), 4096), kOk);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), file.begin() + 100));
  device->close_files();
  // release after close_files closes nothing twice (ASan and the handle
  // layer would notice).
}

TEST(RawImage, DeviceKeepsItsFullPathNotTheProbedHandle) {
  test::TempFolder folder;
  Bytes const file = image_with_descriptor(descriptor(0x01, "CD001", 0x01));
  write_file(folder.path() / "image.iso", file);
  std::u16string const p = system_path(folder.path() / "image.iso");
  FileHandle handle = kInvalidFileHandle;
  ASSERT_EQ(file_open(&handle, p.c_str(), OPEN_QUERY | OPEN_READ), kOk);
  SectorDevice* raw = nullptr;
  ASSERT_EQ(open_container(&raw, p.c_str(), handle, nullptr, 0), kOk);
  DevicePtr device(raw);
  // The caller's handle stays open and usable.
  uint8_t first = 0;
  uint32_t got = 0;
  ASSERT_EQ(file_seek(handle, 1, 0), kOk);
  ASSERT_EQ(file_read(handle, &first, 1, &got), kOk);
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(first, file[1]);
  handle_close(handle);
  Bytes sector(2048);
  ASSERT_EQ(device->read(0, sector.data(), 2048), kOk);
  EXPECT_TRUE(std::equal(sector.begin(), sector.end(), file.begin()));
}

// Probes registered ahead of the built-in ones record what they are given
// and refuse, so every other test still reaches the real probes.
struct ProbeCall {
  int probe;
  const uint8_t* header;
  uint32_t header_length;
};
std::vector<ProbeCall> g_calls;

template <int N>
ErrorCode recording_probe(SectorDevice** device, const char16_t*, FileHandle handle, const uint8_t* header,
                          uint32_t header_length) {
  *device = nullptr;
  EXPECT_NE(handle, kInvalidFileHandle);
  g_calls.push_back({N, header, header_length});
  return kErrorBadFormat;
}

TEST(OpenContainer, ProbesInRegistryOrderWithTheFileHeader) {
  static ContainerFormat first, second;
  static bool registered = false;
  if (!registered) {
    register_container_format(&first, -1000, 0, recording_probe<1>);
    register_container_format(&second, -1000, 0, recording_probe<2>);
    registered = true;
  }
  // The built-in formats: raw image first, packed image second.
  ContainerFormat* f = container_formats();
  while (f != nullptr && f->priority < 0) f = f->next;
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->probe, raw_image_probe);
  ASSERT_NE(f->next, nullptr);
  EXPECT_EQ(f->next->probe, packed_image_probe);
  EXPECT_EQ(container_header_size(), 139264u);

  test::TempFolder folder;
  write_file(folder.path() / "small", Bytes(5000, 0x42));
  write_file(folder.path() / "large", image_with_descriptor(descriptor(0x01, "CD001", 0x01), 100 * 2048));

  g_calls.clear();
  DevicePtr device;
  EXPECT_EQ(open(folder.path() / "small", device), kErrorBadFormat);
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].probe, 2);  // registered later, tried first
  EXPECT_EQ(g_calls[1].probe, 1);
  EXPECT_EQ(g_calls[0].header_length, 5000u);  // never longer than the file

  g_calls.clear();
  ASSERT_EQ(open(folder.path() / "large", device), kOk);
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].header_length, 139264u);

  // A caller's header that is long enough is passed on unchanged.
  std::u16string const p = system_path(folder.path() / "large");
  Bytes const header = image_with_descriptor(descriptor(0x01, "CD001", 0x01), 139264);
  g_calls.clear();
  SectorDevice* raw = nullptr;
  ASSERT_EQ(open_container(&raw, p.c_str(), kInvalidFileHandle, header.data(), uint32_t(header.size())), kOk);
  raw->release();
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].header, header.data());

  // A path that cannot be opened: the open error, no device.
  EXPECT_EQ(open(folder.path() / "missing", device), kErrorFileNotFound);
}

}  // namespace
}  // namespace sm
