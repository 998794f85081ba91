// ScratchPool: an arena of zero-filled blocks released all at once.
//
// Functions that build temporary texts keep a local pool, do not check every
// allocation, and look at `failures` once at the end. The operations are plain
// member functions: nothing substitutes a pool, and a local pool costs no
// table pointer.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace sm {

class ScratchPool {
 public:
  constexpr ScratchPool() = default;
  ScratchPool(const ScratchPool&) = delete;
  ScratchPool& operator=(const ScratchPool&) = delete;
  // Owners release explicitly; releasing again here only guards against a
  // forgotten ReleaseAll on an early return.
  ~ScratchPool() { ReleaseAll(); }

  // Tracked block of `size` zero-filled bytes; null on failure (and counted).
  // Safe to call from several threads at once.
  void* Alloc(size_t size);
  // Frees every tracked block, newest first. `failures` keeps its count.
  void ReleaseAll();
  // Zero-filled block the pool does not record; the caller frees it with free().
  void* AllocUntracked(size_t size);

  struct Trailer {
    Trailer* link;  // previous trailer
    void* start;    // start of the allocation that holds this trailer
  };

  std::atomic<Trailer*> head{nullptr};
  // Allocations through this pool that failed.
  std::atomic<uint32_t> failures{0};
};

// Size of the heap allocation behind Alloc(size): the size rounded up so the
// trailer that follows is aligned (4 bytes on 32-bit), plus the trailer.
// Zero when the size cannot be represented.
size_t ScratchPoolBlockBytes(size_t size);

}  // namespace sm
