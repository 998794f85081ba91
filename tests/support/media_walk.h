// Walking a mounted media volume the way its users do: open_path, enumerate,
// read and close_handle with fresh handles.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/media_volume.h"

namespace sm::test {

using MediaPath = std::vector<std::string>;

// Opens a path of UTF-8 names with a new handle.
ErrorCode OpenMedia(MediaVolume* volume, const MediaPath& path, MediaOpenResult* result);

// The names of a folder's children in listing order, with their entries.
struct MediaChild {
  std::string name;
  MediaEntry entry;
};
ErrorCode ListMedia(MediaVolume* volume, const MediaPath& path, std::vector<MediaChild>* children);

// Every entry below `path`, depth first, as "a/b/c" relative to it.
struct WalkedEntry {
  std::string path;
  MediaEntry entry;
};
std::vector<WalkedEntry> WalkMedia(MediaVolume* volume, const MediaPath& path = {});

// The whole content of a file; *error gets the open or read error.
std::vector<uint8_t> ReadMedia(MediaVolume* volume, const MediaPath& path, ErrorCode* error = nullptr);

}  // namespace sm::test
