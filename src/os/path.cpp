#include "os/path.h"

#include <cstring>

#include "base/text.h"
#include "os/file.h"
#include "os/process_facts.h"

namespace sm {
namespace {

bool is_drive_letter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

char16_t* pool_copy(ScratchPool& pool, const char16_t* text, size_t length) {
  auto* copy = static_cast<char16_t*>(pool.Alloc((length + 1) * sizeof(char16_t)));
  if (copy && length) memcpy(copy, text, length * sizeof(char16_t));
  return copy;
}

// Writes the canonical form of `path` into `out`, which holds at least
// canonical_bound(length) units, and returns its length.
size_t canonical_bound(size_t length) { return 3 * length + 4; }

size_t write_canonical(const char16_t* path, size_t length, size_t root_length, bool rooted, char16_t* out) {
  size_t n = 0;
  for (; n < root_length; ++n) out[n] = is_path_separator(path[n]) ? u'\\' : path[n];
  if (rooted) out[n++] = u'\\';
  const size_t base = n;
  size_t excess = 0;

  size_t i = root_length;
  while (i < length) {
    while (i < length && is_path_separator(path[i])) ++i;
    if (i >= length) break;
    size_t start = i;
    bool only_dots = true;
    while (i < length && !is_path_separator(path[i])) {
      if (path[i] != u'.') only_dots = false;
      ++i;
    }
    size_t component = i - start;
    if (only_dots) {
      // n dots climb n - 1 levels; a single dot stays where it is.
      for (size_t level = 1; level < component; ++level) {
        if (n == base) {
          ++excess;
          continue;
        }
        size_t cut = n;
        while (cut > base && out[cut - 1] != u'\\') --cut;
        n = cut > base ? cut - 1 : base;
      }
      continue;
    }
    if (n != base) out[n++] = u'\\';
    memcpy(out + n, path + start, component * sizeof(char16_t));
    n += component;
  }

  if (!rooted && excess) {
    // Levels above a relative path stay as `..\` right after its root.
    size_t prefix = 3 * excess;
    memmove(out + base + prefix, out + base, (n - base) * sizeof(char16_t));
    for (size_t level = 0; level < excess; ++level) {
      out[base + 3 * level] = u'.';
      out[base + 3 * level + 1] = u'.';
      out[base + 3 * level + 2] = u'\\';
    }
    n += prefix;
  }
  if (n == 0) out[n++] = u'.';
  if (is_path_separator(path[length - 1]) && out[n - 1] != u'\\') out[n++] = u'\\';
  return n;
}

}  // namespace

ErrorCode path_analyse(const char16_t* path, size_t* root_length_out, bool* rooted_out, size_t* name_start_out,
                       size_t* extension_start_out) {
  size_t length = TextLen(path);
  size_t root_length = 0;
  bool rooted = false;
  ErrorCode result = kOk;

  if (length == 0) {
    result = kErrorInvalidName;
  } else if (length >= 2 && is_drive_letter(path[0]) && path[1] == u':') {
    root_length = 2;
    rooted = length > 2 && is_path_separator(path[2]);
  } else if (length >= 2 && is_path_separator(path[0]) && is_path_separator(path[1])) {
    size_t server_end = 2;
    while (server_end < length && !is_path_separator(path[server_end])) ++server_end;
    size_t share_end = server_end + 1;
    while (share_end < length && !is_path_separator(path[share_end])) ++share_end;
    if (server_end == 2 || server_end >= length || share_end == server_end + 1) {
      result = kErrorInvalidName;
    } else {
      root_length = share_end;
      rooted = true;
    }
  } else {
    rooted = is_path_separator(path[0]);
  }

  size_t name_start = root_length;
  size_t extension_start = length;
  if (result == kOk) {
    for (size_t i = root_length; i < length; ++i) {
      if (is_path_separator(path[i])) name_start = i + 1;
    }
    // The extension belongs to the last name; a leading dot (`.profile`)
    // names the file rather than starting an extension.
    for (size_t i = length; i > name_start + 1; --i) {
      if (path[i - 1] == u'.') {
        extension_start = i - 1;
        break;
      }
    }
  }
  if (root_length_out) *root_length_out = root_length;
  if (rooted_out) *rooted_out = rooted;
  if (name_start_out) *name_start_out = result == kOk ? name_start : 0;
  if (extension_start_out) *extension_start_out = extension_start;
  return result;
}

char16_t* path_canonical(ScratchPool& pool, const char16_t* path) {
  size_t root_length = 0;
  bool rooted = false;
  if (path_analyse(path, &root_length, &rooted, nullptr, nullptr) != kOk) return nullptr;
  size_t length = TextLen(path);
  size_t bound = canonical_bound(length);

  char16_t local[300];
  if (bound <= 300) {
    size_t n = write_canonical(path, length, root_length, rooted, local);
    return pool_copy(pool, local, n);
  }
  auto* out = static_cast<char16_t*>(pool.Alloc((bound + 1) * sizeof(char16_t)));
  if (!out) return nullptr;
  out[write_canonical(path, length, root_length, rooted, out)] = 0;
  return out;
}

char16_t* path_join(ScratchPool& pool, const char16_t* left, const char16_t* right) {
  size_t left_length = TextLen(left);
  size_t right_length = TextLen(right);
  if (left_length && is_path_separator(left[left_length - 1])) --left_length;
  if (right_length && is_path_separator(right[0])) {
    ++right;
    --right_length;
  }
  auto* out = static_cast<char16_t*>(pool.Alloc((left_length + right_length + 2) * sizeof(char16_t)));
  if (!out) return nullptr;
  if (left_length) memcpy(out, left, left_length * sizeof(char16_t));
  out[left_length] = u'\\';
  if (right_length) memcpy(out + left_length + 1, right, right_length * sizeof(char16_t));
  return out;
}

char16_t* path_full(ScratchPool& pool, const char16_t* base, const char16_t* path) {
  if (TextLen(path) == 0) path = u".";
  size_t root_length = 0;
  bool rooted = false;
  if (path_analyse(path, &root_length, &rooted, nullptr, nullptr) != kOk) return nullptr;
  if (root_length && rooted) return path_canonical(pool, path);

  ScratchPool local;
  const char16_t* base_path = nullptr;
  bool base_valid = true;
  if (TextLen(base)) {
    const char16_t* canonical_base = path_canonical(local, base);
    bool base_rooted = false;
    if (!canonical_base) {
      base_valid = false;
    } else {
      path_analyse(canonical_base, nullptr, &base_rooted, nullptr, nullptr);
      if (base_rooted) {
        base_path = canonical_base;
      } else {
        const char16_t* current = current_folder(local);
        bool plain = canonical_base[0] == 0 || (canonical_base[0] == u'.' && canonical_base[1] == 0);
        base_path = (current && !plain) ? path_join(local, current, canonical_base) : current;
      }
    }
  } else {
    base_path = current_folder(local);
  }

  char16_t* result = nullptr;
  size_t base_root = 0;
  bool base_rooted = false;
  if (base_valid && base_path &&
      path_analyse(base_path, &base_root, &base_rooted, nullptr, nullptr) == kOk && base_rooted) {
    const char16_t* joined = nullptr;
    if (root_length == 0 && rooted) {
      // `\x`: the base's drive or share, then the path.
      joined = path_join(local, pool_copy(local, base_path, base_root), path + 1);
    } else if (root_length == 0) {
      joined = path_join(local, base_path, path);
    } else if (base_root == root_length && (base_path[0] | 0x20) == (path[0] | 0x20)) {
      joined = path_join(local, base_path, path + root_length);
    } else {
      const char16_t* drive_base = drive_current_folder(local, path[0]);
      if (!drive_base) drive_base = pool_copy(local, path, 2);
      joined = path_join(local, drive_base, path + root_length);
    }
    if (joined) result = path_canonical(pool, joined);
  }
  if (local.failures) ++pool.failures;
  local.ReleaseAll();
  return result;
}

char16_t* path_search(ScratchPool& pool, uint32_t flags, const char16_t* folder, const char16_t* search_list,
                      const char16_t* name) {
  size_t root_length = 0;
  bool rooted = false;
  if (path_analyse(name, &root_length, &rooted, nullptr, nullptr) != kOk) return nullptr;

  ScratchPool local;
  char16_t* found = nullptr;
  auto try_base = [&](const char16_t* base) {
    if (found) return;
    char16_t* candidate = path_full(local, base, name);
    bool is_folder = true;
    if (candidate && path_query(candidate, &is_folder) == kOk && !is_folder) found = candidate;
  };

  if (rooted) {
    // A name from a root needs no search.
    try_base(nullptr);
  } else {
    if (TextLen(folder)) try_base(folder);
    bool nested = false;
    for (const char16_t* c = name; *c; ++c) nested = nested || *c == u'\\';
    if ((flags & SEARCH_INITIAL_FOLDER) || ((flags & SEARCH_INITIAL_FOLDER_IF_NESTED) && nested)) {
      try_base(initial_current_folder());
    }
    if (TextLen(search_list) == 0 && (flags & SEARCH_PATH_VARIABLE)) search_list = environment_value(u"PATH");
    const char16_t* element = search_list;
    while (element && *element && !found) {
      const char16_t* end = element;
      while (*end && *end != u';') ++end;
      if (end != element) {
        const char16_t* base = pool_copy(local, element, static_cast<size_t>(end - element));
        if (base) try_base(base);
      }
      element = *end ? end + 1 : end;
    }
  }

  char16_t* result = found ? pool_copy(pool, found, TextLen(found)) : nullptr;
  if (local.failures) ++pool.failures;
  local.ReleaseAll();
  return result;
}

}  // namespace sm
