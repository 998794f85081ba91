#include "support/folder_link.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace sm::test {

std::string make_folder_link(const std::filesystem::path& target, const std::filesystem::path& link) {
#ifdef _WIN32
  // 0x1 folder link, 0x2 allowed without elevation where the system permits.
  if (!CreateSymbolicLinkW(link.wstring().c_str(), target.wstring().c_str(), 0x1 | 0x2) &&
      !CreateSymbolicLinkW(link.wstring().c_str(), target.wstring().c_str(), 0x1)) {
    return "CreateSymbolicLinkW failed with " + std::to_string(GetLastError());
  }
  // Some systems (Wine 8) report success yet show no link afterwards.
  DWORD attributes = GetFileAttributesW(link.wstring().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return "the link made is not visible as a reparse point";
  }
  return {};
#else
  std::error_code error;
  std::filesystem::create_directory_symlink(target, link, error);
  return error ? error.message() : std::string();
#endif
}

}  // namespace sm::test
