// Directory records on POSIX: the entries of a folder descriptor, read with
// getdents64 and described with fstatat, written in the native record
// layouts so that the portable listing reads them as it reads Windows'.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

#include "base/text.h"
#include "base/utf.h"
#include "os/dir_records.h"
#include "os/file.h"
#include "os/native.h"
#include "os/posix/posix_io.h"

namespace sm::native {
namespace {

struct LinuxDirent64 {
  uint64_t d_ino;
  int64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[1];
};

template <typename T>
void store(uint8_t* at, T value) {
  memcpy(at, &value, sizeof value);
}

// Appends one record at `position`; false when it does not fit.
bool encode(uint8_t* buffer, uint32_t size, uint32_t position, uint32_t info_class, const char* name,
            const struct stat& status, const struct stat* target, uint32_t* record_size) {
  char16_t wide[512];
  size_t units = Utf8ToWide(wide, 512, name, TextLen(name));
  if (units >= 512) units = 0;  // cannot happen for names of at most 255 bytes
  size_t name_offset = info_class == kClassIdExtendedDirectory ? kClass60NameOffset : kClass38NameOffset;
  uint32_t bytes = static_cast<uint32_t>((name_offset + units * 2 + 7) & ~size_t(7));
  if (position > size || size - position < bytes) return false;

  uint8_t* at = buffer + position;
  memset(at, 0, bytes);
  store<uint32_t>(at + 0, bytes);
  store<int64_t>(at + 8, posix::file_time_of(status.st_mtim));
  store<int64_t>(at + 16, posix::file_time_of(status.st_atim));
  store<int64_t>(at + 24, posix::file_time_of(status.st_mtim));
  store<int64_t>(at + 32, posix::file_time_of(status.st_ctim));
  store<uint64_t>(at + 40, static_cast<uint64_t>(status.st_size));
  store<uint64_t>(at + 48, static_cast<uint64_t>(status.st_blocks) * 512);
  uint32_t attributes = posix::attributes_of(status, target);
  store<uint32_t>(at + 56, attributes);
  store<uint32_t>(at + 60, static_cast<uint32_t>(units * 2));
  uint32_t tag = S_ISLNK(status.st_mode) ? kReparseTagSymlink : 0;
  if (info_class == kClassIdExtendedDirectory) {
    store<uint32_t>(at + 68, tag);
  } else {
    store<uint32_t>(at + 64, tag);  // full-identifier records carry the tag in the EA size
  }
  store<uint64_t>(at + 72, static_cast<uint64_t>(status.st_ino));
  memcpy(at + name_offset, wide, units * 2);
  *record_size = bytes;
  return true;
}

}  // namespace

ErrorCode query_directory(FileHandle handle, void* buffer, uint32_t size, uint32_t info_class, uint32_t* filled) {
  *filled = 0;
  if (info_class != kClassIdFullDirectory && info_class != kClassIdExtendedDirectory) {
    return kErrorInvalidParameter;
  }
  int fd = posix::fd_of(handle);
  auto* out = static_cast<uint8_t*>(buffer);
  uint32_t position = 0;
  uint32_t last_record = 0;
  bool any = false;
  alignas(8) char entries[8192];

  for (;;) {
    off_t batch_start = lseek(fd, 0, SEEK_CUR);
    long got = syscall(SYS_getdents64, fd, entries, sizeof entries);
    if (got < 0) return posix::error_from_errno(errno);
    if (got == 0) break;
    off_t resume = batch_start;
    bool full = false;
    for (long offset = 0; offset < got;) {
      const auto* entry = reinterpret_cast<const LinuxDirent64*>(entries + offset);
      offset += entry->d_reclen;
      struct stat status;
      if (fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        resume = entry->d_off;  // vanished meanwhile
        continue;
      }
      struct stat target;
      bool has_target = S_ISLNK(status.st_mode) && fstatat(fd, entry->d_name, &target, 0) == 0;
      uint32_t record_size = 0;
      if (!encode(out, size, position, info_class, entry->d_name, status, has_target ? &target : nullptr,
                  &record_size)) {
        full = true;
        break;
      }
      last_record = position;
      position += record_size;
      any = true;
      resume = entry->d_off;
    }
    if (full) {
      // Continue with the first entry that did not fit at the next query.
      lseek(fd, resume, SEEK_SET);
      break;
    }
  }
  if (!any) return kErrorNoMoreFiles;
  store<uint32_t>(out + last_record, 0);
  *filled = position;
  return kOk;
}

}  // namespace sm::native
