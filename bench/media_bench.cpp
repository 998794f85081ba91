// Reading a 200 MB file out of an ISO image through the media volume (what
// `mediatool cat` does) against reading the same bytes from the file itself.
// Compare the two throughputs of one run: the ratio is the volume's cost.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "media/media_volume.h"
#include "os/handle.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kFileSize = 200u << 20;
constexpr size_t kPiece = 262144;

struct Fixture {
  fs::path folder;
  fs::path file;
  fs::path image;

  Fixture() {
    folder = fs::temp_directory_path() / ("selfmount-media-bench-" + std::to_string(getpid()));
    fs::create_directories(folder / "tree");
    file = folder / "tree" / "big.bin";
    image = folder / "image.iso";
    std::vector<char> piece(kPiece);
    for (size_t i = 0; i < kPiece; ++i) piece[i] = static_cast<char>(i * 131 % 251);
    FILE* out = fopen(file.c_str(), "wb");
    for (size_t done = 0; done < kFileSize; done += kPiece) fwrite(piece.data(), 1, kPiece, out);
    fclose(out);
    std::string const command =
        "xorriso -as mkisofs -o '" + image.string() + "' '" + (folder / "tree").string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) fprintf(stderr, "xorriso failed\n");
  }
  ~Fixture() {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
};

Fixture& Files() {
  static Fixture fixture;
  return fixture;
}

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

void BM_ReadThroughMediaVolume(benchmark::State& state) {
  Fixture& files = Files();
  std::u16string const path = Wide(files.image.string());
  std::vector<uint8_t> buffer(kPiece);
  for (auto _ : state) {
    sm::MediaVolume* volume = nullptr;
    if (sm::mount_media_volume(&volume, path.c_str(), sm::kInvalidFileHandle, sm::kInvalidFileHandle) != 0) {
      state.SkipWithError("mount failed");
      return;
    }
    sm::NameSlot const name{nullptr, 0, "BIG.BIN", 7};
    sm::MediaOpenResult opened{};
    if (volume->open_path(&name, 1, 1, &opened, nullptr) != 0) {
      volume->release();
      state.SkipWithError("open failed");
      return;
    }
    uint64_t offset = 0;
    uint32_t got = 0;
    while (volume->read(1, offset, buffer.data(), kPiece, &got) == 0 && got != 0) offset += got;
    benchmark::DoNotOptimize(buffer.data());
    volume->release();
    if (offset != kFileSize) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFileSize));
}

void BM_ReadFileDirectly(benchmark::State& state) {
  Fixture& files = Files();
  std::vector<uint8_t> buffer(kPiece);
  for (auto _ : state) {
    FILE* in = fopen(files.file.c_str(), "rb");
    size_t total = 0;
    for (size_t got; (got = fread(buffer.data(), 1, kPiece, in)) != 0;) total += got;
    fclose(in);
    benchmark::DoNotOptimize(buffer.data());
    if (total != kFileSize) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFileSize));
}

BENCHMARK(BM_ReadThroughMediaVolume)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReadFileDirectly)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
