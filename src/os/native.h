// What each platform backend (win32/, posix/) supplies beneath the portable
// file, listing and process-fact code. Not part of the module's interface.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/error.h"
#include "os/handle.h"

namespace sm {
struct FileInfo;
}

namespace sm::native {

// One synchronous platform read or write call.
ErrorCode transfer_once(FileHandle handle, void* buffer, uint32_t count, uint32_t* moved, bool write);

// Native information of an open handle.
ErrorCode set_delete_on_close(FileHandle handle);
ErrorCode set_basic_information(FileHandle handle, const int64_t times[4], uint32_t attributes);
ErrorCode query_is_folder(FileHandle handle, bool* is_folder);

// The raw description of an open object: attributes, size, times, volume
// serial number, identifier, and the reparse tag (0 when not a reparse point).
ErrorCode query_file_info(FileHandle handle, FileInfo* info, uint32_t* reparse_tag);

// Directory information classes the listings understand.
inline constexpr uint32_t kClassIdFullDirectory = 38;
inline constexpr uint32_t kClassIdExtendedDirectory = 60;

// Fills `buffer` with directory records of the class, continuing where the
// previous call stopped; `filled` receives the bytes written. 18 when no
// entries are left.
ErrorCode query_directory(FileHandle handle, void* buffer, uint32_t size, uint32_t info_class, uint32_t* filled);

// Sets the process error mode once, before the first native open.
void prepare_native_opens();

}  // namespace sm::native

namespace sm::native {

// Platform answers about the process. Each writes into `buffer` (capacity in
// units) and returns the length of its answer: 0 when the platform has none,
// `capacity` or more when it did not fit.
size_t current_folder(char16_t* buffer, size_t capacity);
size_t drive_current_folder(char16_t drive, char16_t* buffer, size_t capacity);
size_t module_file_name(char16_t* buffer, size_t capacity);
size_t computer_name(char16_t* buffer, size_t capacity);
size_t windows_folder(char16_t* buffer, size_t capacity);
size_t shell_folder(int csidl, char16_t* buffer, size_t capacity);
size_t environment_variable(const char16_t* name, char16_t* buffer, size_t capacity);

enum class RegistryRoot { kCurrentUser, kLocalMachine };
// A string or expandable-string value as stored; capacity counts units.
size_t registry_string(RegistryRoot root, const char16_t* key, const char16_t* value, char16_t* buffer,
                       size_t capacity);

// A heap copy (malloc) of the environment block: NAME=value texts, each
// ended by NUL, the block by an empty text. Null when it cannot be read.
char16_t* environment_block();

}  // namespace sm::native
