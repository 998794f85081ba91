#include "os/process_facts.h"

#include <cstdlib>
#include <cstring>

#include "base/lock.h"
#include "base/text.h"
#include "os/cached_value.h"
#include "os/native.h"
#include "os/path.h"

namespace sm {
namespace {

constexpr size_t kBufferUnits = 300;

std::atomic<const void*> initial_folder_slot{nullptr};
std::atomic<const void*> module_name_slot{nullptr};
std::atomic<const void*> own_path_slot{nullptr};
std::atomic<const void*> module_folder_slot{nullptr};
std::atomic<const void*> base_name_slot{nullptr};
std::atomic<const void*> computer_name_slot{nullptr};
std::atomic<const void*> language_slot{nullptr};
std::atomic<const void*> environment_slot{nullptr};

const char16_t* const kEmptyEnvironment[1] = {nullptr};

char16_t* answer_in_pool(ScratchPool& pool, size_t (*ask)(char16_t*, size_t)) {
  char16_t buffer[kBufferUnits];
  size_t length = ask(buffer, kBufferUnits);
  if (length == 0 || length >= kBufferUnits) return nullptr;
  auto* text = static_cast<char16_t*>(pool.Alloc((length + 1) * sizeof(char16_t)));
  if (text) memcpy(text, buffer, length * sizeof(char16_t));
  return text;
}

template <typename Compute>
const char16_t* cached(std::atomic<const void*>& slot, const char16_t* fallback, Compute compute) {
  if (const void* value = slot.load(std::memory_order_acquire)) return static_cast<const char16_t*>(value);
  return cache_publish_text(slot, compute(), fallback);
}

char16_t* heap_answer(size_t (*ask)(char16_t*, size_t)) {
  char16_t buffer[kBufferUnits];
  size_t length = ask(buffer, kBufferUnits);
  if (length == 0 || length >= kBufferUnits) return nullptr;
  return cache_copy(buffer, length);
}

}  // namespace

char16_t* current_folder(ScratchPool& pool) { return answer_in_pool(pool, native::current_folder); }

char16_t* drive_current_folder(ScratchPool& pool, char16_t drive) {
  char16_t buffer[kBufferUnits];
  size_t length = native::drive_current_folder(drive, buffer, kBufferUnits);
  if (length == 0 || length >= kBufferUnits) return nullptr;
  auto* text = static_cast<char16_t*>(pool.Alloc((length + 1) * sizeof(char16_t)));
  if (text) memcpy(text, buffer, length * sizeof(char16_t));
  return text;
}

const char16_t* initial_current_folder() {
  return cached(initial_folder_slot, u"\\", [] { return heap_answer(native::current_folder); });
}

const char16_t* module_file_name() {
  return cached(module_name_slot, u"\\_", [] { return heap_answer(native::module_file_name); });
}

const char16_t* own_executable_path() {
  if (const void* value = own_path_slot.load(std::memory_order_acquire)) return static_cast<const char16_t*>(value);
  const char16_t* name = module_file_name();
  bool rooted = false;
  size_t extension = 0;
  if (path_analyse(name, nullptr, &rooted, nullptr, &extension) != kOk || !rooted || name[extension] == 0) {
    return nullptr;  // not kept: the next request asks again
  }
  char16_t* copy = cache_copy(name, TextLen(name));
  if (!copy) return nullptr;
  return cache_publish_text(own_path_slot, copy, nullptr);
}

const char16_t* module_folder() {
  return cached(module_folder_slot, u"\\", []() -> char16_t* {
    const char16_t* name = module_file_name();
    size_t root = 0;
    size_t name_start = 0;
    if (path_analyse(name, &root, nullptr, &name_start, nullptr) != kOk) return nullptr;
    // `C:\x\a.exe` gives `C:\x`, `C:\a.exe` gives `C:\`.
    size_t cut = name_start;
    if (cut > root + 1 && is_path_separator(name[cut - 1])) --cut;
    return cut ? cache_copy(name, cut) : nullptr;
  });
}

const char16_t* executable_base_name() {
  return cached(base_name_slot, u"_", []() -> char16_t* {
    const char16_t* name = module_file_name();
    size_t name_start = 0;
    size_t extension = 0;
    if (path_analyse(name, nullptr, nullptr, &name_start, &extension) != kOk || extension <= name_start) {
      return nullptr;
    }
    return cache_copy(name + name_start, extension - name_start);
  });
}

const char16_t* computer_name() {
  return cached(computer_name_slot, u".", [] { return heap_answer(native::computer_name); });
}

const char16_t* ui_language() {
  return cached(language_slot, u"ENU", []() -> char16_t* {
    // A 200-byte buffer, ended after at most 99 characters.
    char16_t buffer[100];
    size_t length = native::registry_string(native::RegistryRoot::kCurrentUser, u"Control Panel\\International",
                                            u"sLanguage", buffer, 100);
    if (length == 0 || length >= 100) return nullptr;
    return cache_copy(buffer, length);
  });
}

const char16_t* const* environment_list() {
  if (const void* value = environment_slot.load(std::memory_order_acquire)) {
    return static_cast<const char16_t* const*>(value);
  }
  void* list = nullptr;
  if (char16_t* block = native::environment_block()) {
    // One allocation: the pointers, then the texts they point to.
    size_t count = 0;
    size_t units = 0;
    for (const char16_t* entry = block; *entry; entry += TextLen(entry) + 1) {
      ++count;
      units += TextLen(entry) + 1;
    }
    size_t pointer_bytes = (count + 1) * sizeof(char16_t*);
    list = malloc(pointer_bytes + units * sizeof(char16_t));
    if (list) {
      auto** pointers = static_cast<char16_t**>(list);
      auto* texts = reinterpret_cast<char16_t*>(static_cast<char*>(list) + pointer_bytes);
      memcpy(texts, block, units * sizeof(char16_t));
      size_t index = 0;
      for (char16_t* entry = texts; index < count; entry += TextLen(entry) + 1) pointers[index++] = entry;
      pointers[count] = nullptr;
    }
    free(block);
  }
  keyed_lock(&environment_slot);
  const void* stored = cache_publish(environment_slot, list, kEmptyEnvironment);
  keyed_unlock(&environment_slot);
  return static_cast<const char16_t* const*>(stored);
}

const char16_t* environment_value(const char16_t* name) { return EnvFind(environment_list(), name); }

}  // namespace sm
