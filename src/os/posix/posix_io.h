// Shared pieces of the POSIX backend: handles are descriptors plus one (so
// that descriptor 0 is not the null handle), errno values become the Win32
// codes Windows gives in the same situation, and times and names convert.
#pragma once

#include <sys/stat.h>

#include <cstdint>

#include "base/error.h"
#include "os/handle.h"

namespace sm::posix {

inline int fd_of(FileHandle handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)) - 1; }
inline FileHandle handle_of(int fd) { return reinterpret_cast<FileHandle>(static_cast<intptr_t>(fd) + 1); }

ErrorCode error_from_errno(int error);

// File time (100 ns since 1601) of a POSIX time stamp.
int64_t file_time_of(const struct timespec& time);

// The native attribute bits Windows would report for this object; `target`
// is the stat of a link's target, or null.
uint32_t attributes_of(const struct stat& status, const struct stat* target);

// "/proc/self/fd/N" for a descriptor, into a buffer of 32 bytes.
void descriptor_path(int fd, char* buffer);

}  // namespace sm::posix
