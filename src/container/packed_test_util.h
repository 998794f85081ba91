// Test helpers for packed images: pack in memory with the packer's writer,
// write the files into a folder, open them as a device.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "container/packed_format.h"
#include "container/packed_files.h"
#include "container/registry.h"
#include "packed_writer.h"

namespace sm::test {

using Files = std::map<uint32_t, std::vector<uint8_t>>;

class MemoryIo : public packer::Io {
 public:
  explicit MemoryIo(const std::vector<uint8_t>& image) : image_(image) {}
  uint64_t image_size() override { return image_.size(); }
  bool read_image(uint64_t offset, uint8_t* buffer, size_t length) override {
    memcpy(buffer, image_.data() + offset, length);
    return true;
  }
  bool spool_write(const uint8_t* bytes, size_t length) override {
    spool_.insert(spool_.end(), bytes, bytes + length);
    return true;
  }
  bool spool_read(uint64_t offset, uint8_t* buffer, size_t length) override {
    memcpy(buffer, spool_.data() + offset, length);
    return true;
  }
  bool begin_file(uint32_t number) override {
    current_ = number;
    files[number].clear();
    return true;
  }
  bool write(const uint8_t* bytes, size_t length) override {
    files[current_].insert(files[current_].end(), bytes, bytes + length);
    return true;
  }
  bool end_file() override { return true; }

  Files files;

 private:
  const std::vector<uint8_t>& image_;
  std::vector<uint8_t> spool_;
  uint32_t current_ = 0;
};

inline Files pack(const std::vector<uint8_t>& image, const packer::Options& options) {
  MemoryIo io(image);
  std::string message;
  EXPECT_TRUE(packer::write_packed_image(options, io, &message)) << message;
  return io.files;
}

inline std::filesystem::path part_name(const std::filesystem::path& first, uint32_t number) {
  if (number == 0) return first;
  char suffix[16];
  snprintf(suffix, sizeof suffix, ".%03u", number);
  return first.string() + suffix;
}

inline void write_bytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<uint8_t> read_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_files(const std::filesystem::path& first, const Files& files) {
  for (const auto& f : files) write_bytes(part_name(first, f.first), f.second);
}

// The path as the file layer takes it: backslashes on every platform.
inline std::u16string system_path(const std::filesystem::path& path) {
#ifdef _WIN32
  std::wstring w = path.wstring();
  return std::u16string(w.begin(), w.end());
#else
  std::u16string out;
  for (char c : path.string()) out += c == '/' ? u'\\' : char16_t(static_cast<unsigned char>(c));
  return out;
#endif
}

// A device that is released when the holder goes.
struct DeviceHolder {
  SectorDevice* device = nullptr;
  ~DeviceHolder() {
    if (device != nullptr) device->release();
  }
  SectorDevice* operator->() const { return device; }
};

// Opens an image the way the media volume does: the registry, then load.
inline ErrorCode open_image(const std::filesystem::path& path, DeviceHolder& holder) {
  std::u16string p = system_path(path);
  FileHandle h = kInvalidFileHandle;
  ErrorCode e = packed_files::open(p.c_str(), packed_files::kReadShared, &h);
  if (e != kOk) return e;
  std::vector<uint8_t> header(0x22000);
  uint32_t got = 0;
  packed_files::read_at(h, 0, header.data(), uint32_t(header.size()), &got);
  e = packed_image_probe(&holder.device, p.c_str(), h, header.data(), got);
  packed_files::close(h);
  if (e != kOk) return e == kErrorEndOfFile || e == kErrorUnknownRevision ? kErrorBadFormat : e;
  return holder->load(nullptr);
}

}  // namespace sm::test
