#include "base/pool.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace sm {

size_t ScratchPoolBlockBytes(size_t size) {
  constexpr size_t kAlign = alignof(ScratchPool::Trailer);
  // No heap hands out more than half the address space.
  constexpr size_t kLimit = static_cast<size_t>(PTRDIFF_MAX) - sizeof(ScratchPool::Trailer) - kAlign;
  if (size > kLimit) return 0;
  return (size + kAlign - 1) / kAlign * kAlign + sizeof(ScratchPool::Trailer);
}

void* ScratchPool::Alloc(size_t size) {
  size_t total = ScratchPoolBlockBytes(size);
  char* block = total ? static_cast<char*>(malloc(total)) : nullptr;
  if (!block) {
    failures++;
    return nullptr;
  }
  auto* trailer = reinterpret_cast<Trailer*>(block + total - sizeof(Trailer));
  trailer->start = block;
  Trailer* old = head.load(std::memory_order_relaxed);
  do {
    trailer->link = old;
  } while (!head.compare_exchange_weak(old, trailer, std::memory_order_release,
                                       std::memory_order_relaxed));
  memset(block, 0, size);
  return block;
}

void ScratchPool::ReleaseAll() {
  Trailer* trailer = head.exchange(nullptr, std::memory_order_acquire);
  while (trailer) {
    Trailer* next = trailer->link;
    free(trailer->start);
    trailer = next;
  }
}

void* ScratchPool::AllocUntracked(size_t size) {
  void* block = size <= static_cast<size_t>(PTRDIFF_MAX) ? calloc(size ? size : 1, 1) : nullptr;
  if (!block) failures++;
  return block;
}

}  // namespace sm
