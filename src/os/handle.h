// The file handle every layer passes around: a Windows HANDLE in the Windows
// build, a file descriptor carried in the same pointer-sized value on POSIX.
#pragma once

#include <cstdint>

namespace sm {

using FileHandle = void*;

// The invalid handle has the value of INVALID_HANDLE_VALUE on both platforms.
inline FileHandle const kInvalidFileHandle = reinterpret_cast<FileHandle>(static_cast<intptr_t>(-1));

}  // namespace sm
