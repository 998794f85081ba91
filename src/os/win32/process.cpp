// Process facts from the Win32, shell and registry interfaces.
#include <windows.h>
#include <shlobj.h>

#include <cstdlib>
#include <cstring>

#include "base/text.h"
#include "os/native.h"

static_assert(sizeof(wchar_t) == 2, "wide text is UTF-16");

namespace sm::native {
namespace {

wchar_t* wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
const wchar_t* wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

}  // namespace

size_t current_folder(char16_t* buffer, size_t capacity) {
  return GetCurrentDirectoryW(static_cast<DWORD>(capacity), wide(buffer));
}

size_t drive_current_folder(char16_t drive, char16_t* buffer, size_t capacity) {
  const char16_t relative[4] = {drive, u':', u'.', 0};
  return GetFullPathNameW(wide(relative), static_cast<DWORD>(capacity), wide(buffer), nullptr);
}

size_t module_file_name(char16_t* buffer, size_t capacity) {
  DWORD length = GetModuleFileNameW(nullptr, wide(buffer), static_cast<DWORD>(capacity));
  // A name that filled the buffer was cut short.
  return length >= capacity ? capacity : length;
}

size_t computer_name(char16_t* buffer, size_t capacity) {
  DWORD length = static_cast<DWORD>(capacity);
  if (!GetComputerNameW(wide(buffer), &length)) return 0;
  return length;
}

size_t windows_folder(char16_t* buffer, size_t capacity) {
  return GetWindowsDirectoryW(wide(buffer), static_cast<UINT>(capacity));
}

size_t shell_folder(int csidl, char16_t* buffer, size_t capacity) {
  // The call needs MAX_PATH units.
  if (capacity < MAX_PATH) return 0;
  buffer[0] = 0;
  if (!SHGetSpecialFolderPathW(nullptr, wide(buffer), csidl, TRUE)) return 0;
  return TextLen(buffer);
}

size_t environment_variable(const char16_t* name, char16_t* buffer, size_t capacity) {
  return GetEnvironmentVariableW(wide(name), wide(buffer), static_cast<DWORD>(capacity));
}

size_t registry_string(RegistryRoot root, const char16_t* key, const char16_t* value, char16_t* buffer,
                       size_t capacity) {
  HKEY opened = nullptr;
  HKEY base = root == RegistryRoot::kCurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  if (RegOpenKeyExW(base, wide(key), 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) return 0;
  DWORD type = 0;
  DWORD bytes = static_cast<DWORD>(capacity * sizeof(char16_t));
  LONG status = RegQueryValueExW(opened, wide(value), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
  RegCloseKey(opened);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return 0;
  // Stored strings may or may not carry their terminator.
  size_t length = bytes / sizeof(char16_t);
  while (length > 0 && buffer[length - 1] == 0) --length;
  if (length >= capacity) return capacity;
  buffer[length] = 0;
  return length;
}

char16_t* environment_block() {
  wchar_t* block = GetEnvironmentStringsW();
  if (!block) return nullptr;
  size_t units = 0;
  while (block[units]) units += wcslen(block + units) + 1;
  ++units;
  auto* copy = static_cast<char16_t*>(malloc(units * sizeof(char16_t)));
  if (copy) memcpy(copy, block, units * sizeof(char16_t));
  FreeEnvironmentStringsW(block);
  return copy;
}

}  // namespace sm::native
