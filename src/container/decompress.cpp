#include "container/decompress.h"

#include <LzmaDec.h>
#include <zlib.h>

#include <cstdlib>
#include <new>

namespace sm {
namespace {

// ---- raw deflate ------------------------------------------------------------

voidpf zlib_alloc(voidpf, uInt count, uInt size) {
  // zlib asks for count × size; both are small, but keep the product honest.
  if (size != 0 && count > SIZE_MAX / size) return Z_NULL;
  return malloc(size_t(count) * size);
}

void zlib_free(voidpf, voidpf address) { free(address); }

class DeflateDecompressor final : public Decompressor {
 public:
  DeflateDecompressor() {
    stream_.zalloc = zlib_alloc;
    stream_.zfree = zlib_free;
    stream_.opaque = Z_NULL;
  }

  // Window bits -15: a 32 KiB window and no wrapper.
  bool init() {
    initialised_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK;
    return initialised_;
  }

  void release() override { delete this; }

  ErrorCode decompress(const void* source, uint32_t source_length, void* destination, uint32_t destination_length,
                       uint32_t* produced) override {
    if (produced != nullptr) *produced = 0;
    if (inflateReset(&stream_) != Z_OK) return kErrorBadFormat;
    stream_.next_in = static_cast<Bytef*>(const_cast<void*>(source));
    stream_.avail_in = source_length;
    stream_.next_out = static_cast<Bytef*>(destination);
    stream_.avail_out = destination_length;
    // One call with the finishing flush: anything but the end of the stream
    // (corrupt data, input ending early, output full first) is bad format.
    if (inflate(&stream_, Z_FINISH) != Z_STREAM_END) return kErrorBadFormat;
    uint32_t const written = destination_length - stream_.avail_out;
    if (produced != nullptr) {
      *produced = written;
    } else if (written != destination_length) {
      return kErrorEndOfFile;
    }
    return kOk;
  }

 private:
  ~DeflateDecompressor() override {
    if (initialised_) inflateEnd(&stream_);
  }

  z_stream stream_{};
  bool initialised_ = false;
};

// ---- LZMA stream --------------------------------------------------------------

void* lzma_alloc(void*, size_t size) { return size != 0 ? malloc(size) : nullptr; }
void lzma_free(void*, void* address) { free(address); }
ISzAlloc g_lzma_allocator = {lzma_alloc, lzma_free};

class LzmaStreamDecoderImpl final : public LzmaStreamDecoder {
 public:
  explicit LzmaStreamDecoderImpl(uint64_t uncompressed_size) : uncompressed_size_(uncompressed_size) {
    LzmaDec_Construct(&state_);
  }

  LzmaStatus allocate(const uint8_t properties[LZMA_PROPS_SIZE]) {
    switch (LzmaDec_AllocateProbs(&state_, properties, LZMA_PROPS_SIZE, &g_lzma_allocator)) {
      case SZ_OK:
        return kLzmaOk;
      case SZ_ERROR_MEM:
        return kLzmaOutOfMemory;
      default:
        return kLzmaCorrupt;  // properties byte above 224
    }
  }

  void release() override { destroy(1); }

  LzmaStatus decode(const void* source, uint32_t source_length, void* destination, uint32_t destination_length,
                    uint32_t* produced) override {
    if (produced != nullptr) *produced = 0;
    if (state_.probs == nullptr || (source == nullptr && source_length != 0) ||
        (destination == nullptr && destination_length != 0)) {
      return kLzmaInvalidArgument;
    }
    // The destination is the whole dictionary: matches can only reach back
    // into bytes this call wrote, and nothing carries over between calls.
    state_.dic = static_cast<Byte*>(destination);
    state_.dicBufSize = destination_length;
    LzmaDec_Init(&state_);
    SizeT consumed = source_length;
    ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
    SRes const result = LzmaDec_DecodeToDic(&state_, destination_length, static_cast<const Byte*>(source), &consumed,
                                            LZMA_FINISH_END, &status);
    SizeT const written = state_.dicPos;
    state_.dic = nullptr;
    state_.dicBufSize = 0;

    LzmaStatus outcome;
    switch (result) {
      case SZ_OK:
        // Finished with an end marker, or at the limit with the range coder
        // finished; needing more input means the stream was cut short.
        outcome = (status == LZMA_STATUS_FINISHED_WITH_MARK || status == LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK)
                      ? kLzmaOk
                      : kLzmaCorrupt;
        break;
      case SZ_ERROR_MEM:
        outcome = kLzmaOutOfMemory;
        break;
      case SZ_ERROR_PARAM:
        outcome = kLzmaInvalidArgument;
        break;
      case SZ_ERROR_OUTPUT_EOF:
        outcome = kLzmaOutputError;
        break;
      default:
        outcome = kLzmaCorrupt;
        break;
    }
    if (outcome == kLzmaOk && produced != nullptr) *produced = uint32_t(written);
    return outcome;
  }

  void destroy(uint32_t flags) override {
    LzmaDec_FreeProbs(&state_, &g_lzma_allocator);
    state_.probs = nullptr;
    if ((flags & 1) != 0) delete this;
  }

  uint64_t uncompressed_size() const { return uncompressed_size_; }

 private:
  ~LzmaStreamDecoderImpl() override = default;

  uint64_t uncompressed_size_;
  CLzmaDec state_;
};

class LzmaDecompressor final : public Decompressor {
 public:
  explicit LzmaDecompressor(LzmaStreamDecoder* decoder) : decoder_(decoder) {}

  void release() override {
    decoder_->release();
    delete this;
  }

  ErrorCode decompress(const void* source, uint32_t source_length, void* destination, uint32_t destination_length,
                       uint32_t* produced) override {
    uint32_t written = 0;
    ErrorCode const error =
        lzma_status_to_error(decoder_->decode(source, source_length, destination, destination_length, &written));
    if (produced != nullptr) {
      *produced = written;
    } else if (error == kOk && written != destination_length) {
      return kErrorBadFormat;
    }
    return error;
  }

 private:
  ~LzmaDecompressor() override = default;

  LzmaStreamDecoder* decoder_;
};

}  // namespace

ErrorCode create_deflate_decompressor(Decompressor** decompressor) {
  *decompressor = nullptr;
  DeflateDecompressor* object = new (std::nothrow) DeflateDecompressor;
  if (object == nullptr) return kErrorOutOfMemory;
  if (!object->init()) {
    object->release();
    return kErrorOutOfMemory;
  }
  *decompressor = object;
  return kOk;
}

LzmaStatus create_lzma_stream_decoder(const uint8_t header[kLzmaHeaderSize], LzmaStreamDecoder** decoder,
                                      uint32_t* uncompressed_size) {
  *decoder = nullptr;
  if (uncompressed_size != nullptr) *uncompressed_size = 0;
  uint64_t size = 0;
  for (int i = 0; i < 8; ++i) size |= uint64_t{header[5 + i]} << (8 * i);
  if (size >= (uint64_t{1} << 31)) return kLzmaOutOfMemory;

  LzmaStreamDecoderImpl* object = new (std::nothrow) LzmaStreamDecoderImpl(size);
  if (object == nullptr) return kLzmaOutOfMemory;
  // The decoder raises a dictionary size below 4096 to 4096 itself.
  LzmaStatus const status = object->allocate(header);
  if (status != kLzmaOk) {
    object->destroy(1);
    return status;
  }
  if (uncompressed_size != nullptr) *uncompressed_size = uint32_t(size);
  *decoder = object;
  return kLzmaOk;
}

ErrorCode create_lzma_decompressor(uint8_t properties, uint32_t dictionary_size, Decompressor** decompressor) {
  *decompressor = nullptr;
  // Stored blocks decode to exactly the block size, which is the dictionary
  // size the packed image passes.
  uint8_t header[kLzmaHeaderSize] = {properties};
  for (int i = 0; i < 4; ++i) header[1 + i] = uint8_t(dictionary_size >> (8 * i));
  for (int i = 0; i < 4; ++i) header[5 + i] = uint8_t(dictionary_size >> (8 * i));

  LzmaStreamDecoder* decoder = nullptr;
  LzmaStatus const status = create_lzma_stream_decoder(header, &decoder, nullptr);
  if (status != kLzmaOk) return lzma_status_to_error(status);
  LzmaDecompressor* object = new (std::nothrow) LzmaDecompressor(decoder);
  if (object == nullptr) {
    decoder->release();
    return kErrorOutOfMemory;
  }
  *decompressor = object;
  return kOk;
}

ErrorCode lzma_status_to_error(LzmaStatus status) {
  switch (status) {
    case kLzmaOk:
      return kOk;
    case kLzmaInvalidArgument:
      return kErrorInvalidParameter;
    case kLzmaOutOfMemory:
      return kErrorOutOfMemory;
    case kLzmaCorrupt:
      return kErrorBadFormat;
    default:
      return kErrorGenFailure;
  }
}

}  // namespace sm
