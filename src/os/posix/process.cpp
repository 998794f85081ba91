// Process facts on POSIX. Paths are reported with backslashes (`\home\u`),
// the form the portable path code reads as a full path with root length 0.
// There is no registry, no shell folder but the profile, and no drives.
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "base/text.h"
#include "base/utf.h"
#include "os/native.h"

extern char** environ;

namespace sm::native {
namespace {

size_t from_utf8(const char* text, char16_t* buffer, size_t capacity, bool path) {
  if (!text || !*text) return 0;
  size_t length = Utf8ToWide(buffer, capacity, text, TextLen(text));
  if (path && length < capacity) {
    for (size_t i = 0; i < length; ++i) {
      if (buffer[i] == u'/') buffer[i] = u'\\';
    }
  }
  return length;
}

}  // namespace

size_t current_folder(char16_t* buffer, size_t capacity) {
  char path[4096];
  if (!getcwd(path, sizeof path)) return 0;
  return from_utf8(path, buffer, capacity, true);
}

size_t drive_current_folder(char16_t, char16_t*, size_t) { return 0; }

size_t module_file_name(char16_t* buffer, size_t capacity) {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return 0;
  path[length] = 0;
  return from_utf8(path, buffer, capacity, true);
}

size_t computer_name(char16_t* buffer, size_t capacity) {
  char name[256];
  if (gethostname(name, sizeof name) != 0) return 0;
  name[sizeof name - 1] = 0;
  return from_utf8(name, buffer, capacity, false);
}

size_t windows_folder(char16_t*, size_t) { return 0; }

size_t shell_folder(int csidl, char16_t* buffer, size_t capacity) {
  if (csidl == 0x28) return from_utf8(getenv("HOME"), buffer, capacity, true);  // the profile
  return 0;
}

size_t environment_variable(const char16_t* name, char16_t* buffer, size_t capacity) {
  char narrow[256];
  size_t length = WideToUtf8(narrow, sizeof narrow, name, TextLen(name));
  if (length >= sizeof narrow) return 0;
  return from_utf8(getenv(narrow), buffer, capacity, false);
}

size_t registry_string(RegistryRoot, const char16_t*, const char16_t*, char16_t*, size_t) { return 0; }

char16_t* environment_block() {
  size_t units = 1;
  for (char** entry = environ; entry && *entry; ++entry) units += Utf8ToWide(nullptr, 0, *entry, TextLen(*entry)) + 1;
  auto* block = static_cast<char16_t*>(malloc(units * sizeof(char16_t)));
  if (!block) return nullptr;
  size_t position = 0;
  for (char** entry = environ; entry && *entry; ++entry) {
    size_t length = Utf8ToWide(nullptr, 0, *entry, TextLen(*entry));
    Utf8ToWide(block + position, length + 1, *entry, TextLen(*entry));
    position += length + 1;
  }
  block[position] = 0;
  return block;
}

}  // namespace sm::native
