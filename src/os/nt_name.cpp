#include <cstring>

#include "base/text.h"
#include "os/file.h"
#include "os/path.h"

namespace sm {

ErrorCode nt_name_from_path(ScratchPool& pool, const char16_t* path, NtName* name) {
  *name = NtName{};
  ScratchPool local;
  const char16_t* full = path_full(local, nullptr, path);
  size_t length = TextLen(full);
  ErrorCode result = kOk;

  const char16_t* prefix = nullptr;
  size_t skip = 0;
  auto sep = [&](size_t i) { return i < length && full[i] == u'\\'; };
  if (length == 0) {
    result = local.failures ? kErrorOutOfMemory : kErrorInvalidName;
  } else if (length >= 2 && full[1] == u':' && (length == 2 || sep(2)) &&
             ((full[0] | 0x20) >= u'a' && (full[0] | 0x20) <= u'z')) {
    prefix = u"\\??\\";
  } else if (length >= 4 && sep(0) && sep(1) && (full[2] == u'.' || full[2] == u'?') && sep(3)) {
    prefix = u"\\??\\";
    skip = 4;
  } else if (length >= 4 && sep(0) && sep(1) && full[2] == u'=' && sep(3)) {
    // A native object name given through the path syntax.
    prefix = u"\\";
    skip = 4;
  } else if (sep(0) && sep(1)) {
    prefix = u"\\??\\UNC\\";
    skip = 2;
  } else if (sep(0)) {
    prefix = u"";
  } else {
    result = kErrorInvalidName;
  }

  if (result == kOk && skip == 4 && full[length - 1] == u'\\') {
    // A device name (`\\.\PhysicalDrive0`) is a bare root: the separator that
    // canonical paths put after a root would name something inside it.
    size_t given = TextLen(path);
    if (!is_path_separator(path[given - 1])) --length;
  }
  if (result == kOk) {
    size_t prefix_length = TextLen(prefix);
    size_t total = prefix_length + length - skip;
    // The maximum length (length + 2) must fit its 16 bits as well.
    if (total * sizeof(char16_t) + 2 > 0xFFFF) {
      result = kErrorInvalidName;
    } else {
      auto* text = static_cast<char16_t*>(pool.Alloc((total + 1) * sizeof(char16_t)));
      if (!text) {
        result = kErrorOutOfMemory;
      } else {
        memcpy(text, prefix, prefix_length * sizeof(char16_t));
        memcpy(text + prefix_length, full + skip, (length - skip) * sizeof(char16_t));
        name->length = static_cast<uint16_t>(total * sizeof(char16_t));
        name->maximum_length = static_cast<uint16_t>(name->length + 2);
        name->text = text;
      }
    }
  }
  local.ReleaseAll();
  return result;
}

}  // namespace sm
