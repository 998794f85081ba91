// Process values that are computed once: a slot changes once, from empty to
// its value, by compare-and-swap; a thread that loses the race frees its
// copy. An exit routine frees the copies and puts the fallbacks back.
#pragma once

#include <atomic>

namespace sm {

// Stores `computed` (a malloc block, or null for "use the fallback") into an
// empty slot and returns whatever the slot holds afterwards.
const void* cache_publish(std::atomic<const void*>& slot, void* computed, const void* fallback);

inline const char16_t* cache_publish_text(std::atomic<const void*>& slot, char16_t* computed,
                                          const char16_t* fallback) {
  return static_cast<const char16_t*>(cache_publish(slot, computed, fallback));
}

// A malloc copy of `length` units of `text`, terminated; null for no memory.
char16_t* cache_copy(const char16_t* text, size_t length);

}  // namespace sm
