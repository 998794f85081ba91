#include "os/cached_value.h"

#include <cstdlib>
#include <cstring>

#include "base/exit.h"

namespace sm {
namespace {

struct Registered {
  std::atomic<const void*>* slot;
  const void* fallback;
};

// Every slot of this module fits, with room to spare.
constexpr int kMaxSlots = 64;
Registered registered[kMaxSlots];
std::atomic<int> registered_count{0};
std::atomic<bool> exit_routine_set{false};

void release_cached_values(void*) {
  int count = registered_count.load();
  for (int i = 0; i < count && i < kMaxSlots; ++i) {
    const void* value = registered[i].slot->exchange(registered[i].fallback);
    if (value != registered[i].fallback) free(const_cast<void*>(value));
  }
}

}  // namespace

const void* cache_publish(std::atomic<const void*>& slot, void* computed, const void* fallback) {
  const void* value = computed ? computed : fallback;
  const void* expected = nullptr;
  if (!slot.compare_exchange_strong(expected, value)) {
    free(computed);
    return expected;
  }
  if (computed) {
    int index = registered_count.fetch_add(1);
    if (index < kMaxSlots) {
      registered[index].slot = &slot;
      registered[index].fallback = fallback;
    }
    if (!exit_routine_set.exchange(true)) register_exit_routine(release_cached_values, nullptr);
  }
  return value;
}

char16_t* cache_copy(const char16_t* text, size_t length) {
  auto* copy = static_cast<char16_t*>(malloc((length + 1) * sizeof(char16_t)));
  if (!copy) return nullptr;
  if (length) memcpy(copy, text, length * sizeof(char16_t));
  copy[length] = 0;
  return copy;
}

}  // namespace sm
