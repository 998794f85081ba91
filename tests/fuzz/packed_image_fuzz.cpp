// Arbitrary bytes as a standalone packed image file: probe it as the
// container registry does, load it, and read across the image with and without a
// buffer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "container/packed_files.h"
#include "container/registry.h"

namespace {

// One file, rewritten for every input; its path in the file layer's form.
struct Scratch {
  std::string native;
  std::u16string path;
  Scratch() {
    char name[] = "/tmp/packed-fuzz-XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    native = name;
    for (char c : native) path += c == '/' ? u'\\' : char16_t(c);
  }
  ~Scratch() { unlink(native.c_str()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Scratch scratch;
  FILE* f = fopen(scratch.native.c_str(), "wb");
  if (f == nullptr) return 0;
  if (size != 0) fwrite(data, 1, size, f);
  fclose(f);

  // The packed image probe, as the registry calls it: the file's first bytes
  // and an open handle.
  sm::SectorDevice* device = nullptr;
  sm::FileHandle handle = sm::kInvalidFileHandle;
  if (sm::packed_files::open(scratch.path.c_str(), sm::packed_files::kReadShared, &handle) != sm::kOk) return 0;
  uint32_t header = size < sm::kPackedImageHeaderSize ? uint32_t(size) : sm::kPackedImageHeaderSize;
  sm::ErrorCode probed = sm::packed_image_probe(&device, scratch.path.c_str(), handle, data, header);
  sm::packed_files::close(handle);
  if (probed != sm::kOk) return 0;
  if (device->load(nullptr) == sm::kOk) {
    const uint64_t total = device->total_size();
    static std::vector<uint8_t> buffer(1u << 20);
    const uint64_t offsets[] = {0, 2048, total / 2, total > 4096 ? total - 4096 : 0, total, total + 12345};
    for (uint64_t at : offsets) {
      device->read(at, buffer.data(), 6144);
      device->read(at, nullptr, 6144);
    }
    // Sequentially through the start of the image, checking then copying.
    uint64_t span = total < buffer.size() ? total : buffer.size();
    device->read(0, nullptr, uint32_t(span));
    device->read(0, buffer.data(), uint32_t(span));
    device->close_files();
    device->read(span / 3, buffer.data(), 4096);
  }
  device->release();
  return 0;
}
