#include <cstdlib>
#include <new>

#include "media/volume_core.h"

namespace sm {

// Every block starts with this header; 16 bytes keep the payload 8-aligned
// on 32-bit and 64-bit builds alike.
struct alignas(16) NodeArena::Block {
  Block* next;
};

void* NodeArena::alloc(size_t size) {
  if (size > kChunkSize) {
    // A block of its own; the current chunk stays current.
    size_t const rounded = (size + 7) & ~size_t{7};
    if (rounded < size || rounded > SIZE_MAX - sizeof(Block)) return nullptr;
    auto* block = static_cast<Block*>(calloc(1, sizeof(Block) + rounded));
    if (block == nullptr) return nullptr;
    ++blocks_;
    if (chunks_ == nullptr) {
      block->next = nullptr;
      chunks_ = block;
      used_ = kChunkSize;  // counts as a full chunk: small requests start a new one
    } else {
      block->next = chunks_->next;
      chunks_->next = block;
    }
    return block + 1;
  }
  size_t const rounded = (size + 7) & ~size_t{7};
  if (chunks_ == nullptr || kChunkSize - used_ < rounded) {
    auto* chunk = static_cast<Block*>(calloc(1, sizeof(Block) + kChunkSize));
    if (chunk == nullptr) return nullptr;
    ++blocks_;
    chunk->next = chunks_;
    chunks_ = chunk;
    used_ = 0;
  }
  void* result = reinterpret_cast<uint8_t*>(chunks_ + 1) + used_;
  used_ += rounded;
  return result;
}

void NodeArena::free_all() {
  while (chunks_ != nullptr) {
    Block* next = chunks_->next;
    free(chunks_);
    chunks_ = next;
  }
  used_ = 0;
  blocks_ = 0;
}

}  // namespace sm
