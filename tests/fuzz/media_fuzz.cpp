// Arbitrary bytes as a raw disc image: mount, walk the whole tree (bounded in
// depth and entries, since directories may point at their ancestors) and
// read every file. The input starts at sector 16, where the volume
// descriptors begin: the sixteen sectors before it are zeros, so that seeds
// stay small and no mutation is spent on the unused system area.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "media/media_volume.h"
#include "support/memory_device.h"

namespace {

using sm::MediaEntry;
using sm::MediaOpenResult;
using sm::MediaVolume;
using sm::NameSlot;

constexpr int kMaxDepth = 6;
constexpr int kMaxEntries = 2000;
constexpr uint32_t kMaxFileBytes = 1 << 20;

struct Walker {
  MediaVolume* volume;
  uint64_t next_handle = 1;
  int entries = 0;
  std::vector<std::string> path;
};

class Collector final : public sm::EntrySink {
 public:
  bool on_entry(const MediaEntry& entry, const char* name, bool* more) override {
    children.push_back({name, entry.kind});
    *more = children.size() < 256;
    return true;
  }
  void on_end() override { ended = true; }
  std::vector<std::pair<std::string, uint8_t>> children;
  bool ended = false;
};

void Walk(Walker& walker) {
  std::vector<NameSlot> slots;
  for (std::string const& name : walker.path) {
    slots.push_back({nullptr, 0, name.data(), static_cast<uint32_t>(name.size())});
  }
  MediaOpenResult opened{};
  char16_t* wide = nullptr;
  if (walker.volume->open_path(slots.data(), static_cast<uint32_t>(slots.size()), walker.next_handle++, &opened,
                               &wide) != 0) {
    return;
  }
  walker.volume->free_buffer(wide);
  if (opened.entry.kind == sm::kMediaKindFile) {
    static std::vector<uint8_t> buffer(65536);
    uint64_t offset = 0;
    uint32_t got = 0;
    while (offset < kMaxFileBytes &&
           walker.volume->read(opened.handle, offset, buffer.data(), static_cast<uint32_t>(buffer.size()), &got) ==
               0 &&
           got != 0) {
      offset += got;
    }
    if (opened.entry.size > 16) walker.volume->read(opened.handle, opened.entry.size - 16, buffer.data(), 32, &got);
  } else {
    Collector collector;
    uint64_t const listing = walker.next_handle++;
    for (int calls = 0; calls < 64 && !collector.ended; ++calls) {
      if (walker.volume->enumerate(opened.handle, listing, &collector) != 0) break;
    }
    walker.volume->end_enumeration(opened.handle, listing);
    if (walker.path.size() < kMaxDepth) {
      for (auto const& [name, kind] : collector.children) {
        if (++walker.entries > kMaxEntries) break;
        walker.path.push_back(name);
        Walk(walker);
        walker.path.pop_back();
      }
    }
  }
  uint64_t time = 0;
  char16_t* label = nullptr;
  if (walker.volume->volume_info(opened.handle, &time, &label) == 0) walker.volume->free_buffer(label);
  walker.volume->close_handle(opened.handle, sm::kMediaCloseAll);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> image(16 * 2048);
  image.insert(image.end(), data, data + size);
  auto* device = new sm::test::MemoryDevice(std::move(image));
  MediaVolume* volume = nullptr;
  if (sm::mount_media_device(&volume, device) != 0) return 0;
  Walker walker{volume, 1, 0, {}};
  Walk(walker);
  walker.path = {".$media"};
  Walk(walker);
  volume->release();
  return 0;
}
