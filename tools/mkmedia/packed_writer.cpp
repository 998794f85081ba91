#include "packed_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>

#include "LzmaEnc.h"
#include "container/hash.h"

namespace sm::packer {

namespace {

void* sz_alloc(void*, size_t size) { return malloc(size); }
void sz_free(void*, void* address) { free(address); }
ISzAlloc g_alloc = {sz_alloc, sz_free};

uint64_t prefix_size(const Options& o, bool pe, bool cabinet) {
  if (pe) return packed_round_up(o.stub.size(), kPackedAlign);
  if (cabinet) return kCabinetStubSize;
  return 0;
}

// Bytes of a part file that are not data: the carrier, the header and, in the
// last part, the trailer.
void part_overheads(const Options& o, uint64_t* other, uint64_t* last) {
  const bool with_stub = !o.stub.empty();
  *other = prefix_size(o, false, with_stub && o.carrier_parts) + kPackedHeaderSize;
  *last = prefix_size(o, with_stub, false) + kPackedHeaderSize + kPackedTrailerSize;
}

bool all_zero(const uint8_t* p, size_t n) {
  // Word-wise: blocks of zeros are common in disc images.
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    memcpy(&w, p + i, 8);
    if (w != 0) return false;
  }
  for (; i < n; ++i)
    if (p[i] != 0) return false;
  return true;
}

}  // namespace

void digest_bytes(uint8_t method, const uint8_t* bytes, size_t length, uint8_t* out) {
  if (method == kPackedDigestCrc32) {
    packed_put32(out, packed_crc32(bytes, length));
  } else if (method == kPackedDigestSha256) {
    BlockChecksum* sum = nullptr;
    if (create_sha256_checksum(&sum) != kOk) abort();
    sum->reset();
    while (length > 0) {
      uint32_t piece = length > 0x40000000u ? 0x40000000u : uint32_t(length);
      sum->update(bytes, piece);
      bytes += piece;
      length -= piece;
    }
    sum->finish(out);
    sum->release();
  }
}

uint8_t lzma_properties_byte(const Options& o) { return uint8_t(o.lzma_lc + 9 * o.lzma_lp + 45 * o.lzma_pb); }

uint32_t digest_size(uint8_t method) {
  return method == kPackedDigestCrc32 ? 4 : method == kPackedDigestSha256 ? 32 : 0;
}

Encoder::Encoder(const Options& options) : options_(options) {
  if (options.compression == kPackedCompressionDeflate) {
    auto* z = new z_stream();
    if (deflateInit2(z, options.deflate_level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
      delete z;
      ok_ = false;
      return;
    }
    zstream_ = z;
  }
}

Encoder::~Encoder() {
  if (zstream_ != nullptr) {
    auto* z = static_cast<z_stream*>(zstream_);
    deflateEnd(z);
    delete z;
  }
}

uint32_t Encoder::encode(const uint8_t* block, uint8_t* out) {
  const uint32_t bs = options_.block_size;
  if (all_zero(block, bs)) return 0;
  size_t produced = 0;
  bool compressed = false;
  if (options_.compression == kPackedCompressionDeflate) {
    auto* z = static_cast<z_stream*>(zstream_);
    deflateReset(z);
    z->next_in = const_cast<Bytef*>(block);
    z->avail_in = bs;
    z->next_out = out;
    z->avail_out = bs;
    if (deflate(z, Z_FINISH) == Z_STREAM_END) {
      produced = z->total_out;
      compressed = true;
    }
  } else if (options_.compression == kPackedCompressionLzma) {
    CLzmaEncProps props;
    LzmaEncProps_Init(&props);
    props.level = options_.lzma_level;
    props.dictSize = bs < 4096 ? 4096 : bs;
    props.reduceSize = bs;
    props.lc = options_.lzma_lc;
    props.lp = options_.lzma_lp;
    props.pb = options_.lzma_pb;
    props.numThreads = 1;
    Byte encoded_props[LZMA_PROPS_SIZE];
    SizeT props_size = LZMA_PROPS_SIZE;
    SizeT dest_len = bs;
    if (LzmaEncode(out, &dest_len, block, bs, &props, encoded_props, &props_size, 0, nullptr, &g_alloc,
                   &g_alloc) == SZ_OK) {
      produced = dest_len;
      compressed = true;
    }
  }
  // A compressed block must end up strictly smaller than the block, or the
  // reader would take it for a raw one.
  if (compressed) {
    uint64_t stored = packed_round_up(produced, kPackedAlign);
    if (stored < bs && stored > 0) {
      memset(out + produced, 0, size_t(stored - produced));
      return uint32_t(stored);
    }
  }
  memcpy(out, block, bs);
  return bs;
}

bool validate(const Options& o, uint64_t image_size, std::string* message) {
  if (image_size == 0 || image_size % 2048 != 0) {
    *message = "the image size is not a positive multiple of 2048 bytes";
    return false;
  }
  if (o.block_size < kPackedMinBlockSize || o.block_size > kPackedMaxBlockSize || o.block_size % 2048 != 0) {
    *message = "the block size must be a multiple of 2048 from 2048 to 4194304";
    return false;
  }
  if (o.compression != kPackedCompressionNone && o.compression != kPackedCompressionDeflate &&
      o.compression != kPackedCompressionLzma) {
    *message = "unknown compression method";
    return false;
  }
  if (o.lzma_lc > 8 || o.lzma_lp > 4 || o.lzma_pb > 4) {
    *message = "LZMA properties out of range (lc 0-8, lp 0-4, pb 0-4)";
    return false;
  }
  if (o.digest > kPackedDigestSha256) {
    *message = "unknown digest method";
    return false;
  }
  uint64_t blocks = (image_size + o.block_size - 1) / o.block_size;
  if (blocks >= kPackedMaxBlockCount) {
    *message = "the image has too many blocks for this block size";
    return false;
  }
  if (o.part_size != 0) {
    uint64_t other, last;
    part_overheads(o, &other, &last);
    if (o.part_size < other + kPackedAlign || o.part_size < last + kPackedAlign) {
      *message = "the part size is too small for the part headers";
      return false;
    }
  }
  for (const Patch& p : o.patches) {
    if (p.payload.empty() || p.payload.size() > 0x7FFFFFFFu || p.position > UINT64_MAX - p.payload.size()) {
      *message = "a patch is empty or too large";
      return false;
    }
  }
  return true;
}

namespace {

struct PartPlan {
  uint32_t file_number;
  bool cabinet;      // prefix is a cabinet stub
  bool pe;           // prefix is the PE stub
  uint64_t logical_start;
  uint64_t length;   // data bytes
};

// Cuts the data stream into parts no larger than the part size.
bool plan_parts(const Options& o, uint64_t stream_length, std::vector<PartPlan>* parts, std::string* message) {
  const bool with_stub = !o.stub.empty();
  if (o.part_size == 0) {
    parts->push_back({0, false, with_stub, 0, stream_length});
    return true;
  }
  const bool last_pe = with_stub;
  const bool other_cab = with_stub && o.carrier_parts;
  uint64_t other_overhead, last_overhead;
  part_overheads(o, &other_overhead, &last_overhead);
  uint64_t other_capacity = packed_round_down(o.part_size - other_overhead, kPackedAlign);
  uint64_t last_capacity = packed_round_down(o.part_size - last_overhead, kPackedAlign);
  uint64_t at = 0;
  while (stream_length - at > last_capacity) {
    uint64_t n = std::min(other_capacity, stream_length - at);
    parts->push_back({0, other_cab, false, at, n});
    at += n;
  }
  parts->push_back({0, false, last_pe, at, stream_length - at});
  // Standalone: part 0 is the output and part k is "<output>.%03u" k. With a
  // stub the executable holds the last part and the others follow it by name.
  for (size_t k = 0; k < parts->size(); ++k) {
    if (with_stub) {
      (*parts)[k].file_number = k + 1 == parts->size() ? 0 : uint32_t(k + 1);
    } else {
      (*parts)[k].file_number = uint32_t(k);
    }
  }
  if (parts->size() > 999) {
    *message = "the part size gives more than 999 parts";
    return false;
  }
  return true;
}

struct Stored {
  std::vector<uint32_t> sizes;
  std::vector<uint8_t> digests;
  uint64_t total = 0;
};

// Phase one: every block is read, compressed (on all threads) and hashed; the
// stored forms go to the spool in block order.
bool store_blocks(const Options& o, Io& io, uint64_t block_count, Stored* st, std::string* message) {
  const uint32_t bs = o.block_size;
  const uint32_t ds = digest_size(o.digest);
  const uint64_t image_size = io.image_size();
  st->sizes.resize(block_count);
  st->digests.assign(block_count * ds, 0);
  unsigned threads = std::max(1u, o.threads);
  // A batch keeps every thread busy for a while without holding too much memory.
  uint64_t batch = std::max<uint64_t>(threads * 2, (64ull << 20) / bs);
  batch = std::min<uint64_t>(batch, block_count);
  std::vector<uint8_t> in(batch * bs), out(batch * bs);
  std::vector<std::unique_ptr<Encoder>> encoders;
  for (unsigned t = 0; t < threads; ++t) {
    encoders.emplace_back(new Encoder(o));
    if (!encoders.back()->ok()) {
      *message = "the compressor could not be set up";
      return false;
    }
  }
  for (uint64_t first = 0; first < block_count; first += batch) {
    uint64_t n = std::min(batch, block_count - first);
    uint64_t begin = first * bs;
    uint64_t want = std::min<uint64_t>(n * bs, image_size - begin);
    if (!io.read_image(begin, in.data(), size_t(want))) {
      *message = "reading the image failed";
      return false;
    }
    memset(in.data() + want, 0, size_t(n * bs - want));
    auto work = [&](unsigned t) {
      for (uint64_t i = t; i < n; i += threads) {
        const uint8_t* src = in.data() + i * bs;
        uint8_t* dst = out.data() + i * bs;
        uint32_t stored;
        if (o.compression == kPackedCompressionNone) {
          stored = bs;
          if (ds != 0) digest_bytes(o.digest, src, bs, st->digests.data() + (first + i) * ds);
        } else {
          stored = encoders[t]->encode(src, dst);
          if (ds != 0 && stored != 0) digest_bytes(o.digest, dst, stored, st->digests.data() + (first + i) * ds);
        }
        st->sizes[first + i] = stored;
      }
    };
    if (threads == 1 || n == 1) {
      work(0);
    } else {
      std::vector<std::thread> pool;
      for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work, t);
      work(0);
      for (auto& th : pool) th.join();
    }
    for (uint64_t i = 0; i < n; ++i) {
      uint32_t s = st->sizes[first + i];
      const uint8_t* bytes = o.compression == kPackedCompressionNone ? in.data() + i * bs : out.data() + i * bs;
      if (s != 0 && !io.spool_write(bytes, s)) {
        *message = "writing the temporary block file failed";
        return false;
      }
      st->total += s;
    }
    io.progress(std::min<uint64_t>(image_size, (first + n) * bs), image_size);
  }
  return true;
}

class StreamReader {
 public:
  StreamReader(Io& io, uint64_t blocks_length, const std::vector<uint8_t>& tables)
      : io_(io), blocks_length_(blocks_length), tables_(tables) {}
  bool read(uint64_t at, uint8_t* out, size_t n) {
    if (at < blocks_length_) {
      size_t k = size_t(std::min<uint64_t>(n, blocks_length_ - at));
      if (!io_.spool_read(at, out, k)) return false;
      at += k;
      out += k;
      n -= k;
    }
    if (n == 0) return true;
    memcpy(out, tables_.data() + (at - blocks_length_), n);
    return true;
  }

 private:
  Io& io_;
  uint64_t blocks_length_;
  const std::vector<uint8_t>& tables_;
};

}  // namespace

bool write_packed_image(const Options& o, Io& io, std::string* message) {
  const uint64_t image_size = io.image_size();
  if (!validate(o, image_size, message)) return false;
  const uint32_t bs = o.block_size;
  const uint64_t block_count = (image_size + bs - 1) / bs;
  const uint32_t ds = digest_size(o.digest);

  Stored st;
  if (!store_blocks(o, io, block_count, &st, message)) return false;

  // The tables at the end of the data stream: digests, block index, metadata.
  std::vector<uint8_t> tables;
  if (ds != 0) {
    tables = st.digests;
    tables.resize(packed_round_up(tables.size(), kPackedAlign), 0);
  }
  if (o.compression != kPackedCompressionNone) {
    size_t at = tables.size();
    tables.resize(at + packed_round_up(block_count * 4, kPackedAlign), 0);
    for (uint64_t i = 0; i < block_count; ++i) packed_put32(tables.data() + at + i * 4, st.sizes[i]);
  }
  uint64_t metadata_size = 0;
  for (const Patch& p : o.patches) metadata_size += packed_metadata_record_size(uint32_t(p.payload.size()));
  if (metadata_size > 0xFFFFFFE0u) {
    *message = "the patches are too large";
    return false;
  }
  {
    size_t at = tables.size();
    tables.resize(at + metadata_size, 0);
    for (const Patch& p : o.patches) {
      packed_metadata_record_encode(kPackedPatchTag, p.position, p.payload.data(), uint32_t(p.payload.size()),
                                    tables.data() + at);
      at += packed_metadata_record_size(uint32_t(p.payload.size()));
    }
  }

  PackedTrailer trailer;
  memcpy(trailer.image_id, o.image_id, 16);
  trailer.digest_method = o.digest;
  trailer.block_count = block_count;
  trailer.block_size = bs;
  trailer.last_block_bytes = uint32_t(image_size - (block_count - 1) * bs);
  trailer.metadata_size = uint32_t(metadata_size);
  trailer.compression_method = o.compression;
  trailer.lzma_properties = o.compression == kPackedCompressionLzma ? lzma_properties_byte(o) : 0;
  uint8_t trailer_bytes[kPackedTrailerSize];
  packed_trailer_encode(trailer, trailer_bytes);
  if (ds != 0) {
    std::vector<uint8_t> covered(tables);
    covered.insert(covered.end(), trailer_bytes + kPackedTrailerDigestedStart,
                   trailer_bytes + kPackedTrailerDigestedEnd);
    digest_bytes(o.digest, covered.data(), covered.size(), trailer.image_digest);
    packed_trailer_encode(trailer, trailer_bytes);
  }

  const uint64_t stream_length = st.total + tables.size();
  std::vector<PartPlan> parts;
  if (!plan_parts(o, stream_length, &parts, message)) return false;

  StreamReader stream(io, st.total, tables);
  std::vector<uint8_t> buffer(1u << 20);
  for (size_t k = 0; k < parts.size(); ++k) {
    const PartPlan& part = parts[k];
    const bool last = k + 1 == parts.size();
    if (!io.begin_file(part.file_number)) {
      *message = "creating an output file failed";
      return false;
    }
    bool ok = true;
    if (part.pe) {
      ok = io.write(o.stub.data(), o.stub.size());
      uint8_t zeros[kPackedAlign] = {};
      size_t pad = size_t(packed_round_up(o.stub.size(), kPackedAlign) - o.stub.size());
      if (ok && pad != 0) ok = io.write(zeros, pad);
    } else if (part.cabinet) {
      uint8_t cab[kCabinetStubSize];
      packed_cabinet_stub_encode(cab);
      ok = io.write(cab, sizeof cab);
    }
    PackedHeader header;
    memcpy(header.image_id, o.image_id, 16);
    memcpy(header.set_id, o.set_id, 16);
    header.logical_start = part.logical_start;
    header.part_index = uint32_t(k);
    uint8_t header_bytes[kPackedHeaderSize];
    packed_header_encode(header, header_bytes);
    if (ok) ok = io.write(header_bytes, sizeof header_bytes);
    for (uint64_t done = 0; ok && done < part.length;) {
      size_t n = size_t(std::min<uint64_t>(buffer.size(), part.length - done));
      ok = stream.read(part.logical_start + done, buffer.data(), n) && io.write(buffer.data(), n);
      done += n;
    }
    if (ok && last) ok = io.write(trailer_bytes, sizeof trailer_bytes);
    if (!io.end_file() || !ok) {
      *message = "writing an output file failed";
      return false;
    }
  }
  return true;
}

}  // namespace sm::packer
