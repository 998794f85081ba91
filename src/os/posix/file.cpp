// The file API on POSIX: the same operations and error codes as the native
// Windows interface, for full paths of the form `\tmp\x`.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/text.h"
#include "base/utf.h"
#include "os/file.h"
#include "os/file_info.h"
#include "os/native.h"
#include "os/posix/posix_io.h"

namespace sm {

namespace posix {

ErrorCode error_from_errno(int error) {
  switch (error) {
    case 0: return kOk;
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR: return kErrorAccessDenied;
    case EEXIST: return kErrorAlreadyExists;
    case ENOTEMPTY: return kErrorFolderNotEmpty;
    case ENOSPC:
    case EDQUOT: return kErrorDiskFull;
    case ENAMETOOLONG: return 206;
    case ELOOP: return 1921;
    case EROFS: return 19;
    case EBADF: return kErrorInvalidHandle;
    case EMFILE:
    case ENFILE: return 4;
    case ENOMEM: return kErrorOutOfMemory;
    case EINVAL: return kErrorInvalidParameter;
    case EBUSY:
    case ETXTBSY: return kErrorSharingViolation;
    case EPIPE: return kErrorBrokenPipe;
    case EXDEV: return 17;
    case EIO: return 1117;
    default: return kErrorGenFailure;
  }
}

int64_t file_time_of(const struct timespec& time) {
  return (static_cast<int64_t>(time.tv_sec) + 11644473600LL) * 10000000LL + time.tv_nsec / 100;
}

uint32_t attributes_of(const struct stat& status, const struct stat* target) {
  uint32_t attributes = 0;
  if (S_ISLNK(status.st_mode)) {
    attributes = kAttributeReparsePoint;
    if (target && S_ISDIR(target->st_mode)) attributes |= kAttributeFolder;
    return attributes;
  }
  attributes = S_ISDIR(status.st_mode) ? kAttributeFolder : kAttributeArchive;
  if (!(status.st_mode & S_IWUSR)) attributes |= kAttributeReadOnly;
  return attributes;
}

void descriptor_path(int fd, char* buffer) { snprintf(buffer, 32, "/proc/self/fd/%d", fd); }

}  // namespace posix

namespace {

using posix::fd_of;
using posix::handle_of;

// The POSIX path of a native name: `\x\y` becomes `/x/y`; the null device
// keeps its Windows names; drives and shares do not exist here.
ErrorCode posix_path_of(const NtName& name, char** out, ScratchPool& pool) {
  const char16_t* text = name.text;
  size_t length = name.length / sizeof(char16_t);
  auto equals = [&](const char16_t* literal) {
    return TextLen(literal) == length && memcmp(text, literal, length * sizeof(char16_t)) == 0;
  };
  if (equals(u"\\??\\NUL") || equals(u"\\Device\\Null")) {
    *out = static_cast<char*>(pool.Alloc(16));
    if (!*out) return kErrorOutOfMemory;
    strcpy(*out, "/dev/null");
    return kOk;
  }
  if (length >= 4 && text[1] == u'?' && text[2] == u'?') return kErrorPathNotFound;
  if (length >= 8 && memcmp(text, u"\\Device\\", 8 * sizeof(char16_t)) == 0) return kErrorPathNotFound;

  size_t bytes = WideToUtf8(nullptr, 0, text, length);
  *out = static_cast<char*>(pool.Alloc(bytes + 1));
  if (!*out) return kErrorOutOfMemory;
  WideToUtf8(*out, bytes + 1, text, length);
  for (char* c = *out; *c; ++c) {
    if (*c == '\\') *c = '/';
  }
  return kOk;
}

// Windows tells a missing file (2) from a missing folder on the way (3).
ErrorCode missing_error(const char* path) {
  const char* slash = strrchr(path, '/');
  if (!slash || slash == path) return kErrorFileNotFound;
  char* parent = strndup(path, static_cast<size_t>(slash - path));
  if (!parent) return kErrorOutOfMemory;
  struct stat status;
  bool parent_is_folder = stat(parent, &status) == 0 && S_ISDIR(status.st_mode);
  free(parent);
  return parent_is_folder ? kErrorFileNotFound : kErrorPathNotFound;
}

ErrorCode open_posix(const char* path, uint32_t access, uint32_t disposition, uint32_t options, int* fd_out) {
  bool folder = options & kOptionFolder;
  bool itself = options & kOptionOpenReparsePoint;
  bool read = access & (kAccessReadData | kAccessExecute);
  bool write = access & kAccessWriteData;

  if (folder && disposition == kDispositionCreateNew) {
    if (mkdir(path, 0777) != 0) return errno == ENOENT ? missing_error(path) : posix::error_from_errno(errno);
    disposition = kDispositionOpen;
  }

  int flags = O_CLOEXEC;
  if (write && !folder) {
    flags |= read ? O_RDWR : O_WRONLY;
  } else if (read || folder) {
    flags |= O_RDONLY;
  } else {
    flags |= O_PATH;  // attributes only: no data access needed
  }
  if (itself) flags |= O_NOFOLLOW | O_PATH;
  if (itself) flags &= ~(O_WRONLY | O_RDWR);
  if (folder && !itself) flags |= O_DIRECTORY;
  switch (disposition) {
    case kDispositionCreateNew: flags |= O_CREAT | O_EXCL; break;
    case kDispositionOpenOrCreate: flags |= O_CREAT; break;
    case kDispositionOverwrite: flags |= O_TRUNC; break;
    case kDispositionOverwriteOrCreate: flags |= O_CREAT | O_TRUNC; break;
    default: break;
  }

  int fd = open(path, flags, 0666);
  if (fd < 0) {
    int error = errno;
    if (error == ENOENT) return missing_error(path);
    if (error == ENOTDIR && folder) {
      struct stat status;
      if (stat(path, &status) == 0 && !S_ISDIR(status.st_mode)) return 267;  // the object is not a folder
    }
    return posix::error_from_errno(error);
  }
  *fd_out = fd;
  return kOk;
}

ErrorCode path_of_fd(int fd, char* buffer, size_t size) {
  char link[32];
  posix::descriptor_path(fd, link);
  ssize_t length = readlink(link, buffer, size - 1);
  if (length < 0) return posix::error_from_errno(errno);
  if (static_cast<size_t>(length) >= size - 1) return 206;
  buffer[length] = 0;
  return kOk;
}

}  // namespace

namespace native {

void prepare_native_opens() {}

ErrorCode transfer_once(FileHandle handle, void* buffer, uint32_t count, uint32_t* moved, bool write) {
  int fd = fd_of(handle);
  for (;;) {
    ssize_t done = write ? ::write(fd, buffer, count) : ::read(fd, buffer, count);
    if (done >= 0) {
      *moved = static_cast<uint32_t>(done);
      return kOk;
    }
    if (errno != EINTR) {
      *moved = 0;
      return posix::error_from_errno(errno);
    }
  }
}

ErrorCode set_delete_on_close(FileHandle handle) {
  // There is no delete-on-close here: the object goes at once, which callers
  // that close right after marking cannot tell apart.
  int fd = fd_of(handle);
  struct stat status;
  if (fstat(fd, &status) != 0) return posix::error_from_errno(errno);
  char path[4096];
  if (ErrorCode error = path_of_fd(fd, path, sizeof path)) return error;
  int result = S_ISDIR(status.st_mode) ? rmdir(path) : unlink(path);
  return result == 0 ? kOk : posix::error_from_errno(errno);
}

ErrorCode set_basic_information(FileHandle handle, const int64_t times[4], uint32_t attributes) {
  int fd = fd_of(handle);
  char link[32];
  posix::descriptor_path(fd, link);
  struct stat status;
  if (fstat(fd, &status) != 0) return posix::error_from_errno(errno);
  if (S_ISLNK(status.st_mode)) return kOk;  // links carry no times or modes of their own here

  struct timespec stamps[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
  const int64_t* wanted[2] = {&times[1], &times[2]};
  bool any = false;
  for (int i = 0; i < 2; ++i) {
    int64_t time = *wanted[i];
    if (time == -1 || time == 0) continue;
    int64_t since_1970 = time - 116444736000000000LL;
    int64_t seconds = since_1970 / 10000000;
    int64_t rest = since_1970 % 10000000;
    if (rest < 0) {
      rest += 10000000;
      --seconds;
    }
    stamps[i].tv_sec = static_cast<time_t>(seconds);
    stamps[i].tv_nsec = static_cast<long>(rest * 100);
    any = true;
  }
  if (any && utimensat(AT_FDCWD, link, stamps, 0) != 0) return posix::error_from_errno(errno);

  if (attributes) {
    mode_t mode = status.st_mode & 07777;
    mode = (attributes & kAttributeReadOnly) ? (mode & ~0222) : (mode | S_IWUSR);
    if (mode != (status.st_mode & 07777) && chmod(link, mode) != 0) return posix::error_from_errno(errno);
  }
  return kOk;
}

ErrorCode query_is_folder(FileHandle handle, bool* is_folder) {
  struct stat status;
  if (fstat(fd_of(handle), &status) != 0) {
    *is_folder = false;
    return posix::error_from_errno(errno);
  }
  *is_folder = S_ISDIR(status.st_mode);
  return kOk;
}

ErrorCode query_file_info(FileHandle handle, FileInfo* info, uint32_t* reparse_tag) {
  *info = FileInfo{};
  *reparse_tag = 0;
  int fd = fd_of(handle);
  struct stat status;
  if (fstat(fd, &status) != 0) return posix::error_from_errno(errno);
  struct stat target;
  bool has_target = false;
  if (S_ISLNK(status.st_mode)) {
    char link[32];
    posix::descriptor_path(fd, link);
    has_target = stat(link, &target) == 0;
    *reparse_tag = kReparseTagSymlink;
  }
  info->attributes = posix::attributes_of(status, has_target ? &target : nullptr);
  info->size = static_cast<uint64_t>(status.st_size);
  info->creation_time = posix::file_time_of(status.st_mtim);
  info->last_access_time = posix::file_time_of(status.st_atim);
  info->last_write_time = posix::file_time_of(status.st_mtim);
  info->change_time = posix::file_time_of(status.st_ctim);
  info->volume_serial = static_cast<uint64_t>(status.st_dev);
  uint64_t inode = status.st_ino;
  memcpy(info->file_id, &inode, sizeof inode);
  return kOk;
}

}  // namespace native

ErrorCode error_from_status(uint32_t status) {
  struct Pair {
    uint32_t status;
    ErrorCode error;
  };
  static const Pair kTable[] = {
      {0x00000000, 0},   {0x80000005, 234}, {0x80000006, 18},  {0xC0000003, 87},  {0xC0000008, 6},
      {0xC000000D, 87},  {0xC0000011, 38},  {0xC0000017, 8},   {0xC0000022, 5},   {0xC0000033, 123},
      {0xC0000034, 2},   {0xC0000035, 183}, {0xC000003A, 3},   {0xC0000043, 32},  {0xC000007F, 112},
      {0xC00000BA, 5},   {0xC0000101, 145}, {0xC0000103, 267}, {0xC0000121, 5},   {0xC000014F, 1117},
  };
  for (const Pair& pair : kTable) {
    if (pair.status == status) return pair.error;
  }
  return 317;  // no Win32 text for that status
}

ErrorCode nt_open(const char16_t* path, uint32_t access, uint32_t share, uint32_t attributes, uint32_t disposition,
                  uint32_t options, FileHandle* handle) {
  (void)share;  // POSIX has no share modes
  (void)attributes;
  *handle = kInvalidFileHandle;
  ScratchPool pool;
  NtName name{};
  char* posix_path = nullptr;
  ErrorCode result = nt_name_from_path(pool, path, &name);
  if (result == kOk) result = posix_path_of(name, &posix_path, pool);
  int fd = -1;
  if (result == kOk) result = open_posix(posix_path, access, disposition, options, &fd);
  if (result == kOk) *handle = handle_of(fd);
  pool.ReleaseAll();
  return result;
}

ErrorCode file_seek(FileHandle handle, uint32_t position_low, uint32_t position_high) {
  if (is_no_handle(handle)) return kErrorInvalidHandle;
  off_t position = static_cast<off_t>((static_cast<uint64_t>(position_high) << 32) | position_low);
  if (lseek(fd_of(handle), position, SEEK_SET) < 0) return posix::error_from_errno(errno);
  return kOk;
}

ErrorCode file_get_size(FileHandle handle, uint64_t* size) {
  *size = 0;
  if (is_no_handle(handle)) return kErrorInvalidHandle;
  off_t end = lseek(fd_of(handle), 0, SEEK_END);
  if (end < 0) return posix::error_from_errno(errno);
  *size = static_cast<uint64_t>(end);
  return kOk;
}

void handle_close(FileHandle handle) {
  if (is_no_handle(handle)) return;
  int fd = fd_of(handle);
  // The standard descriptors stay open for the rest of the process.
  if (fd > 2) close(fd);
}

ErrorCode handle_duplicate(FileHandle* duplicate, FileHandle handle) {
  *duplicate = kInvalidFileHandle;
  if (is_no_handle(handle)) return kErrorInvalidHandle;
  int fd = fcntl(fd_of(handle), F_DUPFD_CLOEXEC, 3);
  if (fd < 0) return posix::error_from_errno(errno);
  *duplicate = handle_of(fd);
  return kOk;
}

ErrorCode null_device_open(FileHandle* handle) {
  return nt_open(u"\\\\.\\NUL", kAccessSynchronize | kAccessReadData | kAccessWriteData, kShareAll, 0,
                 kDispositionOpen, kOptionSynchronous, handle);
}

FileHandle std_handle(StdHandle which) {
  return handle_of(which == StdHandle::kInput ? 0 : which == StdHandle::kOutput ? 1 : 2);
}

}  // namespace sm
