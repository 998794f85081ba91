// Windows side: the standard handles, the user's language from the registry
// and the process environment.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "usertext/platform.h"

namespace sm {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wide text is UTF-16");

void UserTextStdWrite(int which, const char* bytes, size_t count) {
  HANDLE handle = GetStdHandle(which == 0 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return;
  while (count > 0) {
    DWORD done = 0;
    DWORD chunk = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
    if (!WriteFile(handle, bytes, chunk, &done, nullptr) || done == 0) return;
    bytes += done;
    count -= done;
  }
}

char16_t* UserTextReadLanguage() {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\International", 0, KEY_READ, &key) != ERROR_SUCCESS)
    return nullptr;
  // At most 200 bytes count; a value of exactly 200 keeps its first 99 units.
  wchar_t value[100];
  DWORD type = 0;
  DWORD size = sizeof(value);
  LONG status = RegQueryValueExW(key, L"sLanguage", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return nullptr;
  size_t units = size / sizeof(wchar_t);
  if (units > 99) units = 99;
  value[units] = 0;
  units = wcslen(value);
  auto* copy = static_cast<char16_t*>(malloc((units + 1) * sizeof(char16_t)));
  if (copy) memcpy(copy, value, (units + 1) * sizeof(char16_t));
  return copy;
}

char16_t* UserTextReadEnvironment(const char16_t* name) {
  auto* wide_name = reinterpret_cast<const wchar_t*>(name);
  DWORD needed = GetEnvironmentVariableW(wide_name, nullptr, 0);
  if (needed == 0) return nullptr;
  auto* value = static_cast<char16_t*>(malloc(needed * sizeof(char16_t)));
  if (!value) return nullptr;
  DWORD got = GetEnvironmentVariableW(wide_name, reinterpret_cast<wchar_t*>(value), needed);
  if (got == 0 || got >= needed) {
    free(value);
    return nullptr;
  }
  return value;
}

}  // namespace sm
