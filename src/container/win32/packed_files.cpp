// Windows backend over the Win32 file calls.
#include "container/packed_files.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wide text is UTF-16");

namespace sm::packed_files {

namespace {

const wchar_t* wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

size_t length(const char16_t* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

}  // namespace

ErrorCode open(const char16_t* path, uint32_t flags, FileHandle* handle) {
  DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  if (flags & 0x20) share &= ~DWORD(FILE_SHARE_WRITE);
  HANDLE h = CreateFileW(wide(path), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *handle = kInvalidFileHandle;
    return ErrorCode(GetLastError());
  }
  *handle = h;
  return kOk;
}

void close(FileHandle handle) {
  if (handle != kInvalidFileHandle && handle != nullptr) CloseHandle(handle);
}

ErrorCode size(FileHandle handle, uint64_t* out) {
  LARGE_INTEGER s;
  if (!GetFileSizeEx(handle, &s)) return ErrorCode(GetLastError());
  *out = uint64_t(s.QuadPart);
  return kOk;
}

ErrorCode read_at(FileHandle handle, uint64_t offset, void* buffer, uint32_t length, uint32_t* got) {
  *got = 0;
  if (handle == kInvalidFileHandle || handle == nullptr) return kErrorInvalidHandle;
  LARGE_INTEGER at;
  at.QuadPart = LONGLONG(offset);
  if (!SetFilePointerEx(handle, at, nullptr, FILE_BEGIN)) return ErrorCode(GetLastError());
  while (*got < length) {
    DWORD n = 0;
    DWORD want = length - *got > (16u << 20) ? (16u << 20) : length - *got;
    if (!ReadFile(handle, static_cast<uint8_t*>(buffer) + *got, want, &n, nullptr)) {
      DWORD e = GetLastError();
      if (e == ERROR_HANDLE_EOF) break;
      return ErrorCode(e);
    }
    if (n == 0) break;
    *got += n;
  }
  return kOk;
}

char16_t* full_path(const char16_t* path) {
  DWORD need = GetFullPathNameW(wide(path), 0, nullptr, nullptr);
  if (need == 0) return nullptr;
  auto* out = static_cast<char16_t*>(malloc(size_t(need) * sizeof(char16_t)));
  if (out == nullptr) return nullptr;
  DWORD n = GetFullPathNameW(wide(path), need, reinterpret_cast<wchar_t*>(out), nullptr);
  if (n == 0 || n >= need) {
    free(out);
    return nullptr;
  }
  return out;
}

struct Listing {
  HANDLE find;
  bool first;
  WIN32_FIND_DATAW data;
  char16_t* path;
  uint32_t folder_length;
};

ErrorCode listing_open(const char16_t* folder, Listing** out) {
  *out = nullptr;
  auto* l = static_cast<Listing*>(calloc(1, sizeof(Listing)));
  if (l == nullptr) return kErrorOutOfMemory;
  size_t n = length(folder);
  l->path = static_cast<char16_t*>(malloc((n + 2 + MAX_PATH + 2) * sizeof(char16_t)));
  if (l->path == nullptr) {
    free(l);
    return kErrorOutOfMemory;
  }
  memcpy(l->path, folder, n * sizeof(char16_t));
  if (n == 0 || folder[n - 1] != u'\\') l->path[n++] = u'\\';
  l->folder_length = uint32_t(n);
  l->path[n] = u'*';
  l->path[n + 1] = 0;
  l->find = FindFirstFileW(reinterpret_cast<wchar_t*>(l->path), &l->data);
  if (l->find == INVALID_HANDLE_VALUE) {
    ErrorCode e = ErrorCode(GetLastError());
    free(l->path);
    free(l);
    return e;
  }
  l->first = true;
  *out = l;
  return kOk;
}

ErrorCode listing_next(Listing* l, const char16_t** path, uint32_t* name_offset, bool* is_folder) {
  for (;;) {
    if (!l->first && !FindNextFileW(l->find, &l->data)) {
      DWORD e = GetLastError();
      return e == ERROR_NO_MORE_FILES ? kErrorNoMoreFiles : ErrorCode(e);
    }
    l->first = false;
    const wchar_t* name = l->data.cFileName;
    if (wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0) continue;
    size_t n = wcslen(name);
    memcpy(l->path + l->folder_length, name, (n + 1) * sizeof(char16_t));
    *path = l->path;
    *name_offset = l->folder_length;
    *is_folder = (l->data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return kOk;
  }
}

void listing_release(Listing* l) {
  if (l == nullptr) return;
  if (l->find != INVALID_HANDLE_VALUE && l->find != nullptr) FindClose(l->find);
  free(l->path);
  free(l);
}

}  // namespace sm::packed_files
