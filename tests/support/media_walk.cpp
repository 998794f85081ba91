#include "support/media_walk.h"

namespace sm::test {

namespace {

uint64_t NextHandle() {
  static uint64_t counter = 0;
  return ++counter;
}

class CollectingSink final : public EntrySink {
 public:
  explicit CollectingSink(std::vector<MediaChild>* children) : children_(children) {}
  bool on_entry(const MediaEntry& entry, const char* name, bool* more) override {
    children_->push_back({name, entry});
    *more = true;
    return true;
  }
  void on_end() override { ended = true; }
  bool ended = false;

 private:
  std::vector<MediaChild>* children_;
};

void Walk(MediaVolume* volume, const MediaPath& base, const std::string& prefix, std::vector<WalkedEntry>* out,
          int depth) {
  std::vector<MediaChild> children;
  if (depth > 64 || ListMedia(volume, base, &children) != kOk) return;
  for (MediaChild const& child : children) {
    std::string const path = prefix.empty() ? child.name : prefix + "/" + child.name;
    out->push_back({path, child.entry});
    if (child.entry.kind == kMediaKindFolder) {
      MediaPath sub = base;
      sub.push_back(child.name);
      Walk(volume, sub, path, out, depth + 1);
    }
  }
}

std::vector<NameSlot> Slots(const MediaPath& path) {
  std::vector<NameSlot> slots;
  for (std::string const& name : path) {
    slots.push_back({nullptr, 0, name.data(), static_cast<uint32_t>(name.size())});
  }
  return slots;
}

}  // namespace

ErrorCode OpenMedia(MediaVolume* volume, const MediaPath& path, MediaOpenResult* result) {
  std::vector<NameSlot> const slots = Slots(path);
  return volume->open_path(slots.data(), static_cast<uint32_t>(slots.size()), NextHandle(), result, nullptr);
}

ErrorCode ListMedia(MediaVolume* volume, const MediaPath& path, std::vector<MediaChild>* children) {
  MediaOpenResult opened{};
  ErrorCode error = OpenMedia(volume, path, &opened);
  if (error != kOk) return error;
  CollectingSink sink(children);
  uint64_t const listing = NextHandle();
  while (error == kOk && !sink.ended) {
    size_t const before = children->size();
    error = volume->enumerate(opened.handle, listing, &sink);
    if (!sink.ended && children->size() == before) break;  // a sink that accepts always advances
  }
  volume->close_handle(opened.handle, kMediaCloseAll);
  return error;
}

std::vector<WalkedEntry> WalkMedia(MediaVolume* volume, const MediaPath& path) {
  std::vector<WalkedEntry> entries;
  Walk(volume, path, "", &entries, 0);
  return entries;
}

std::vector<uint8_t> ReadMedia(MediaVolume* volume, const MediaPath& path, ErrorCode* error) {
  std::vector<uint8_t> content;
  MediaOpenResult opened{};
  ErrorCode result = OpenMedia(volume, path, &opened);
  if (result == kOk) {
    uint64_t offset = 0;
    std::vector<uint8_t> piece(262144);
    for (;;) {
      uint32_t got = 0;
      result = volume->read(opened.handle, offset, piece.data(), static_cast<uint32_t>(piece.size()), &got);
      content.insert(content.end(), piece.begin(), piece.begin() + got);
      offset += got;
      if (result != kOk || got == 0) break;
    }
    volume->close_handle(opened.handle, kMediaCloseAll);
  }
  if (error != nullptr) *error = result;
  return content;
}

}  // namespace sm::test
