// Path anatomy, canonical and full paths, joins and searches. Both `\` and
// `/` separate components; every separator these functions write is `\`.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/error.h"
#include "base/pool.h"

namespace sm {

// Search flags of path_search.
inline constexpr uint32_t SEARCH_INITIAL_FOLDER = 0x1;
inline constexpr uint32_t SEARCH_INITIAL_FOLDER_IF_NESTED = 0x2;
inline constexpr uint32_t SEARCH_PATH_VARIABLE = 0x4;

inline bool is_path_separator(char16_t c) { return c == u'\\' || c == u'/'; }

// Root length (2 for `X:`, the length of `\\server\share`, else 0), whether
// the path is anchored at a root, where its last name starts and where that
// name's extension starts (the path's length when it has none). 123 for an
// empty path and for a `\\` path with an empty server or share.
ErrorCode path_analyse(const char16_t* path, size_t* root_length, bool* rooted, size_t* name_start,
                       size_t* extension_start);

// The canonical text of a path: `.` dropped, `..` climbing, separators made
// single backslashes. Null when the path is invalid or memory runs out.
char16_t* path_canonical(ScratchPool& pool, const char16_t* path);

// The canonical full path of `path` relative to `base` (or to the current
// folder when `base` is absent or not rooted). Null when it cannot be made;
// a memory shortage also raises pool.failures.
char16_t* path_full(ScratchPool& pool, const char16_t* base, const char16_t* path);

// left and right joined with exactly one backslash.
char16_t* path_join(ScratchPool& pool, const char16_t* left, const char16_t* right);

// The full path of the first existing file (not folder) named `name`, tried
// relative to `folder`, then (by the flags) the initial current folder, then
// each element of the `;`-separated `search_list` (or PATH). Null if none.
char16_t* path_search(ScratchPool& pool, uint32_t flags, const char16_t* folder,
                      const char16_t* search_list, const char16_t* name);

}  // namespace sm
