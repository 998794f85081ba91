#include "media/verify.h"

#include <gtest/gtest.h>

#include <vector>

#include "container/packed_test_util.h"
#include "media/media_test_util.h"
#include "support/temp_folder.h"

namespace sm::test {
namespace {

class RecordingSink final : public ProgressSink {
 public:
  uint8_t report_progress(uint64_t done, uint64_t total) override {
    calls.push_back({done, total});
    return calls.size() == stop_at ? 1 : 0;
  }
  void finish_progress() override { ++finished; }

  std::vector<std::pair<uint64_t, uint64_t>> calls;
  size_t stop_at = 0;  // 1-based call that answers stop; 0: never
  int finished = 0;
};

std::vector<uint64_t> ReadOffsets(const MemoryDevice* device, size_t from) {
  std::vector<uint64_t> offsets;
  for (size_t i = from; i < device->reads_.size(); ++i) {
    EXPECT_TRUE(device->reads_[i].checked_only);
    EXPECT_EQ(device->reads_[i].length, kVerifyStep);
    offsets.push_back(device->reads_[i].offset);
  }
  return offsets;
}

TEST(Verify, StepsOverTheWholeSectors) {
  MemoryDevice* device = nullptr;
  VolumePtr volume = MountBytes(std::vector<uint8_t>(1000000), &device);
  ASSERT_TRUE(volume);
  size_t const mount_reads = device->reads_.size();
  RecordingSink sink;
  EXPECT_EQ(volume->verify(&sink), kOk);
  std::vector<std::pair<uint64_t, uint64_t>> const expected = {
      {0, 999424}, {262144, 999424}, {524288, 999424}, {786432, 999424}};
  EXPECT_EQ(sink.calls, expected);
  EXPECT_EQ(sink.finished, 0);
  EXPECT_EQ(ReadOffsets(device, mount_reads), (std::vector<uint64_t>{0, 262144, 524288, 786432}));
  // Without a sink the same reads happen.
  EXPECT_EQ(volume->verify(nullptr), kOk);
  EXPECT_EQ(device->reads_.size(), mount_reads + 8);
}

TEST(Verify, FirstErrorEndsAtItsStep) {
  MemoryDevice* device = nullptr;
  VolumePtr volume = MountBytes(std::vector<uint8_t>(1000000), &device);
  ASSERT_TRUE(volume);
  size_t const mount_reads = device->reads_.size();
  device->fail_at_ = 600000;
  RecordingSink sink;
  EXPECT_EQ(volume->verify(&sink), kErrorBadFormat);
  EXPECT_EQ(sink.calls.size(), 3u);
  EXPECT_EQ(ReadOffsets(device, mount_reads), (std::vector<uint64_t>{0, 262144, 524288}));
}

TEST(Verify, StopRequestEndsAfterTheStep) {
  for (ErrorCode read_result : {kOk, kErrorEndOfFile}) {
    MemoryDevice* device = nullptr;
    VolumePtr volume = MountBytes(std::vector<uint8_t>(1000000), &device);
    ASSERT_TRUE(volume);
    size_t const mount_reads = device->reads_.size();
    if (read_result != kOk) {
      device->fail_at_ = 10;
      device->fail_error_ = read_result;
    }
    RecordingSink sink;
    sink.stop_at = 1;
    EXPECT_EQ(volume->verify(&sink), read_result);
    EXPECT_EQ(sink.calls.size(), 1u);
    EXPECT_EQ(ReadOffsets(device, mount_reads), std::vector<uint64_t>{0});
  }
}

TEST(Verify, EmptyImageReadsNothing) {
  MemoryDevice* device = nullptr;
  VolumePtr volume = MountBytes(std::vector<uint8_t>(2047), &device);
  ASSERT_TRUE(volume);
  size_t const mount_reads = device->reads_.size();
  RecordingSink sink;
  EXPECT_EQ(volume->verify(&sink), kOk);
  EXPECT_TRUE(sink.calls.empty());
  EXPECT_EQ(device->reads_.size(), mount_reads);
}

// A packed image whose stored block 9 (of 64 KiB blocks) has a damaged byte:
// verification stops with 11 at the step that covers it, without decoding.
TEST(Verify, DamagedPackedBlockFailsAtItsStep) {
  std::vector<uint8_t> image(999424);  // whole sectors, as the packer takes them
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 13 % 256);
  packer::Options options;
  options.block_size = 65536;
  options.compression = kPackedCompressionNone;
  Files files = pack(image, options);
  ASSERT_EQ(files.size(), 1u);
  files[0][kPackedHeaderSize + 9 * 65536 + 100] ^= 0xFF;  // stored blocks follow the header
  TempFolder temp;
  write_files(temp.path() / "damaged.pak", files);
  DeviceHolder holder;
  ASSERT_EQ(open_image(temp.path() / "damaged.pak", holder), kOk);
  MediaVolume* raw = nullptr;
  ASSERT_EQ(mount_media_device(&raw, holder.device), kOk);
  holder.device = nullptr;  // the volume owns it now
  VolumePtr volume(raw);
  RecordingSink sink;
  EXPECT_EQ(volume->verify(&sink), kErrorBadFormat);
  std::vector<std::pair<uint64_t, uint64_t>> const expected = {{0, 999424}, {262144, 999424}, {524288, 999424}};
  EXPECT_EQ(sink.calls, expected);
}

}  // namespace
}  // namespace sm::test
