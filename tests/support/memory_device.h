// A SectorDevice over bytes in memory, for mounting byte-built and tool-made
// images without the container layer. It can fake recording sessions, fail
// reads at a chosen byte, and records every read it was asked for.
#pragma once

#include <cstdint>
#include <vector>

#include "container/sector_device.h"

namespace sm::test {

class MemoryDevice final : public SectorDevice {
 public:
  struct Read {
    uint64_t offset;
    uint32_t length;
    bool checked_only;  // no buffer
  };

  explicit MemoryDevice(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

  void release() override;
  ErrorCode load(PasswordProvider*) override { return kOk; }
  uint32_t sector_size() override { return kSectorSize; }
  uint64_t total_size() override { return size_override_ != 0 ? size_override_ : bytes_.size(); }
  uint32_t session_count() override { return static_cast<uint32_t>(sessions_.size()); }
  uint64_t session_offset(uint32_t session) override {
    return session < sessions_.size() ? sessions_[session] : 0;
  }
  // Reads past the end copy what there is and give 38; checking reads
  // (no buffer) past the end give no error.
  ErrorCode read(uint64_t offset, void* buffer, uint32_t length) override;
  void close_files() override { ++close_count_; }

  // Session start offsets; empty: a single-session image.
  std::vector<uint64_t> sessions_;
  // A read covering byte fail_at_ returns fail_error_.
  uint64_t fail_at_ = ~uint64_t{0};
  ErrorCode fail_error_ = 11;
  uint64_t size_override_ = 0;
  std::vector<Read> reads_;
  int close_count_ = 0;
  bool* released_ = nullptr;  // set to true by release()

 private:
  ~MemoryDevice() override = default;

  std::vector<uint8_t> bytes_;
};

}  // namespace sm::test
