// Writes packed images: cuts a disc image into blocks, compresses them on all
// cores, adds digests, tables, patch records and the trailer, and lays the data
// stream out over one or more parts (standalone, behind a PE stub, or in part
// files that are cabinet stubs). The byte layout comes from packed_format.h,
// the same definitions the reader uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "container/packed_format.h"

namespace sm::packer {

struct Patch {
  uint64_t position = 0;
  std::vector<uint8_t> payload;
};

struct Options {
  uint32_t block_size = 1u << 20;
  uint8_t compression = kPackedCompressionLzma;
  uint8_t lzma_lc = 3, lzma_lp = 0, lzma_pb = 2;
  int lzma_level = 5;
  int deflate_level = 6;
  uint8_t digest = kPackedDigestSha256;
  uint8_t image_id[16] = {};
  uint8_t set_id[16] = {};
  // The PE executable the last part is attached to; empty: standalone.
  std::vector<uint8_t> stub;
  // Largest size of one file; 0: a single part.
  uint64_t part_size = 0;
  // Part files other than the one holding the trailer are cabinet stubs. On by
  // default with a PE stub, so that the media stays loadable after signing.
  bool carrier_parts = true;
  std::vector<Patch> patches;
  unsigned threads = 1;
};

uint8_t lzma_properties_byte(const Options& options);

// Where the bytes come from and where they go. Files are numbered: 0 is the
// output itself, n > 0 is the part file "<output>.%03u".
class Io {
 public:
  virtual ~Io() = default;
  virtual uint64_t image_size() = 0;
  // Reads image bytes (never past its size).
  virtual bool read_image(uint64_t offset, uint8_t* buffer, size_t length) = 0;
  // A scratch file for the stored blocks, written once in order and read back.
  virtual bool spool_write(const uint8_t* bytes, size_t length) = 0;
  virtual bool spool_read(uint64_t offset, uint8_t* buffer, size_t length) = 0;
  // Output files, one at a time: begin, writes, end.
  virtual bool begin_file(uint32_t number) = 0;
  virtual bool write(const uint8_t* bytes, size_t length) = 0;
  virtual bool end_file() = 0;
  // Progress of the long work (compression): bytes done out of total.
  virtual void progress(uint64_t done, uint64_t total) { (void)done, (void)total; }
};

// Checks the options against the image size; on failure `message` says why.
bool validate(const Options& options, uint64_t image_size, std::string* message);

// Writes the packed image. Returns false with a message on failure.
bool write_packed_image(const Options& options, Io& io, std::string* message);

// Compresses one block of `block_size` bytes into `out` (room for block_size
// bytes): returns the stored size, 0 for an all-zero block, block_size when the
// block is kept raw. One Encoder per thread.
class Encoder {
 public:
  Encoder(const Options& options);
  ~Encoder();
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;
  bool ok() const { return ok_; }
  uint32_t encode(const uint8_t* block, uint8_t* out);

 private:
  const Options& options_;
  void* zstream_ = nullptr;
  bool ok_ = true;
};

// Digest of `length` bytes with the given method (4 or 32 bytes written).
void digest_bytes(uint8_t method, const uint8_t* bytes, size_t length, uint8_t* out);
uint32_t digest_size(uint8_t method);

}  // namespace sm::packer
