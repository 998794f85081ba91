// POSIX backend: the path \tmp\x is the file /tmp/x.
#include "container/packed_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace sm::packed_files {

namespace {

ErrorCode from_errno(int e) {
  switch (e) {
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES: case EPERM: case EISDIR: return kErrorAccessDenied;
    case ENOMEM: return kErrorOutOfMemory;
    case ENAMETOOLONG: return kErrorInvalidName;
    default: return kErrorGenFailure;
  }
}

// UTF-16 to UTF-8 with '\' turned into '/'; malloc'd, null on failure.
char* native(const char16_t* path) {
  size_t n = 0;
  while (path[n] != 0) ++n;
  char* out = static_cast<char*>(malloc(n * 3 + 1));
  if (out == nullptr) return nullptr;
  size_t o = 0;
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = path[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && path[i + 1] >= 0xDC00 && path[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (path[++i] - 0xDC00);
    }
    if (c == '\\') c = '/';
    if (c < 0x80) {
      out[o++] = char(c);
    } else if (c < 0x800) {
      out[o++] = char(0xC0 | (c >> 6));
      out[o++] = char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out[o++] = char(0xE0 | (c >> 12));
      out[o++] = char(0x80 | ((c >> 6) & 0x3F));
      out[o++] = char(0x80 | (c & 0x3F));
    } else {
      out[o++] = char(0xF0 | (c >> 18));
      out[o++] = char(0x80 | ((c >> 12) & 0x3F));
      out[o++] = char(0x80 | ((c >> 6) & 0x3F));
      out[o++] = char(0x80 | (c & 0x3F));
    }
  }
  out[o] = 0;
  return out;
}

// UTF-8 name appended to a UTF-16 buffer (bytes that are no UTF-8 pass as Latin-1).
size_t append_wide(char16_t* out, const char* name) {
  size_t o = 0;
  const auto* p = reinterpret_cast<const unsigned char*>(name);
  while (*p != 0) {
    uint32_t c = *p++;
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (extra != 0) {
      c &= 0x3F >> extra;
      for (int i = 0; i < extra && (*p & 0xC0) == 0x80; ++i) c = (c << 6) | (*p++ & 0x3F);
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out[o++] = char16_t(0xD800 + (c >> 10));
      out[o++] = char16_t(0xDC00 + (c & 0x3FF));
    } else {
      out[o++] = char16_t(c);
    }
  }
  out[o] = 0;
  return o;
}

int fd_of(FileHandle h) { return int(reinterpret_cast<intptr_t>(h)); }

}  // namespace

ErrorCode open(const char16_t* path, uint32_t, FileHandle* handle) {
  *handle = kInvalidFileHandle;
  char* p = native(path);
  if (p == nullptr) return kErrorOutOfMemory;
  int fd = ::open(p, O_RDONLY | O_CLOEXEC);
  int error = errno;
  free(p);
  if (fd < 0) return from_errno(error);
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return kErrorAccessDenied;
  }
  *handle = reinterpret_cast<FileHandle>(intptr_t(fd));
  return kOk;
}

void close(FileHandle handle) {
  if (handle != kInvalidFileHandle && handle != nullptr) ::close(fd_of(handle));
}

ErrorCode size(FileHandle handle, uint64_t* out) {
  if (handle == kInvalidFileHandle || handle == nullptr) return kErrorInvalidHandle;
  off_t end = lseek(fd_of(handle), 0, SEEK_END);
  if (end < 0) return from_errno(errno);
  *out = uint64_t(end);
  return kOk;
}

ErrorCode read_at(FileHandle handle, uint64_t offset, void* buffer, uint32_t length, uint32_t* got) {
  *got = 0;
  if (handle == kInvalidFileHandle || handle == nullptr) return kErrorInvalidHandle;
  while (*got < length) {
    ssize_t n = pread(fd_of(handle), static_cast<uint8_t*>(buffer) + *got, length - *got, off_t(offset + *got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return from_errno(errno);
    }
    if (n == 0) break;
    *got += uint32_t(n);
  }
  return kOk;
}

char16_t* full_path(const char16_t* path) {
  size_t n = 0;
  while (path[n] != 0) ++n;
  char16_t* out;
  if (n > 0 && (path[0] == u'\\' || path[0] == u'/')) {
    out = static_cast<char16_t*>(malloc((n + 1) * sizeof(char16_t)));
    if (out == nullptr) return nullptr;
    memcpy(out, path, (n + 1) * sizeof(char16_t));
  } else {
    char* cwd = getcwd(nullptr, 0);
    if (cwd == nullptr) return nullptr;
    size_t c = strlen(cwd);
    out = static_cast<char16_t*>(malloc((c + n + 2) * sizeof(char16_t)));
    if (out == nullptr) {
      free(cwd);
      return nullptr;
    }
    size_t o = append_wide(out, cwd);
    free(cwd);
    if (o == 0 || out[o - 1] != u'/') out[o++] = u'\\';
    memcpy(out + o, path, (n + 1) * sizeof(char16_t));
  }
  for (char16_t* p = out; *p != 0; ++p) {
    if (*p == u'/') *p = u'\\';
  }
  return out;
}

struct Listing {
  DIR* dir;
  char* native_folder;
  char16_t* path;    // folder with a trailing backslash, then the entry's name
  uint32_t folder_length;
  size_t capacity;
};

ErrorCode listing_open(const char16_t* folder, Listing** out) {
  *out = nullptr;
  auto* l = static_cast<Listing*>(calloc(1, sizeof(Listing)));
  if (l == nullptr) return kErrorOutOfMemory;
  l->native_folder = native(folder);
  size_t n = 0;
  while (folder[n] != 0) ++n;
  l->capacity = n + 2 + 1024;
  l->path = static_cast<char16_t*>(malloc(l->capacity * sizeof(char16_t)));
  if (l->native_folder == nullptr || l->path == nullptr) {
    listing_release(l);
    return kErrorOutOfMemory;
  }
  memcpy(l->path, folder, n * sizeof(char16_t));
  if (n == 0 || folder[n - 1] != u'\\') l->path[n++] = u'\\';
  l->folder_length = uint32_t(n);
  l->dir = opendir(l->native_folder[0] != 0 ? l->native_folder : "/");
  if (l->dir == nullptr) {
    ErrorCode e = errno == ENOENT ? kErrorPathNotFound : from_errno(errno);
    listing_release(l);
    return e;
  }
  *out = l;
  return kOk;
}

ErrorCode listing_next(Listing* l, const char16_t** path, uint32_t* name_offset, bool* is_folder) {
  for (;;) {
    errno = 0;
    dirent* e = readdir(l->dir);
    if (e == nullptr) return errno == 0 ? kErrorNoMoreFiles : from_errno(errno);
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    size_t need = l->folder_length + strlen(e->d_name) * 2 + 1;
    if (need > l->capacity) {
      auto* grown = static_cast<char16_t*>(realloc(l->path, need * sizeof(char16_t)));
      if (grown == nullptr) return kErrorOutOfMemory;
      l->path = grown;
      l->capacity = need;
    }
    append_wide(l->path + l->folder_length, e->d_name);
    struct stat st;
    bool folder = false;
    if (e->d_type == DT_DIR) {
      folder = true;
    } else if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      folder = fstatat(dirfd(l->dir), e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    }
    *path = l->path;
    *name_offset = l->folder_length;
    *is_folder = folder;
    return kOk;
  }
}

void listing_release(Listing* l) {
  if (l == nullptr) return;
  if (l->dir != nullptr) closedir(l->dir);
  free(l->native_folder);
  free(l->path);
  free(l);
}

}  // namespace sm::packed_files
