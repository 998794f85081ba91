// The file handle every layer passes around: a Windows HANDLE in the Windows
// build; on POSIX a file descriptor plus one, carried in the same
// pointer-sized value (so that descriptor 0 is not the null handle).
#pragma once

#include <cstdint>

namespace sm {

using FileHandle = void*;

// The invalid handle has the value of INVALID_HANDLE_VALUE on both platforms.
inline FileHandle const kInvalidFileHandle = reinterpret_cast<FileHandle>(static_cast<intptr_t>(-1));

}  // namespace sm
