// POSIX side: standard output and error are file descriptors 1 and 2, and
// there is no registry, so the language is the fallback.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/text.h"
#include "usertext/platform.h"

namespace sm {

void UserTextStdWrite(int which, const char* bytes, size_t count) {
  int fd = which == 0 ? 1 : 2;
  while (count > 0) {
    ssize_t done = write(fd, bytes, count);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return;
    bytes += done;
    count -= static_cast<size_t>(done);
  }
}

char16_t* UserTextReadLanguage() { return nullptr; }

char16_t* UserTextReadEnvironment(const char16_t* name) {
  char narrow[64];
  size_t i = 0;
  for (; name[i] && i + 1 < sizeof(narrow); ++i) narrow[i] = static_cast<char>(name[i]);
  narrow[i] = 0;
  const char* value = getenv(narrow);
  if (!value) return nullptr;
  return HeapDupUtf8(value);
}

}  // namespace sm
