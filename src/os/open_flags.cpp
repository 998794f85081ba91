#include "os/file.h"

namespace sm {

NativeOpen open_flags_to_native(uint32_t flags) {
  NativeOpen open{};
  open.access = kAccessBaseRead;
  if (flags & OPEN_READ) open.access |= kAccessReadData;
  if (flags & OPEN_EXECUTE) open.access |= kAccessExecute;
  if (flags & (OPEN_WRITE_ATTRIBUTES | OPEN_CREATE)) open.access |= kAccessWriteAttributes;

  open.share = kShareAll;
  if (flags & (OPEN_WRITE | OPEN_CREATE | OPEN_TRUNCATE)) {
    open.access |= kAccessWriteData;
    if (!(flags & OPEN_SHARE_WRITE)) open.share = kShareRead | kShareDelete;
  }
  if (flags & OPEN_DENY_WRITE) open.share &= ~kShareWrite;

  bool create = flags & OPEN_CREATE;
  bool truncate = flags & OPEN_TRUNCATE;
  if (create) {
    open.disposition = truncate ? kDispositionOverwriteOrCreate : kDispositionOpenOrCreate;
    open.attributes = kAttributeArchive;
  } else {
    open.disposition = truncate ? kDispositionOverwrite : kDispositionOpen;
    open.attributes = kAttributeHidden | kAttributeSystem;
  }

  open.options = kOptionSynchronous;
  if (flags & OPEN_NO_BUFFERING) open.options |= kOptionNoBuffering;
  if (flags & OPEN_ASYNC) {
    open.options &= ~kOptionSynchronous;
    open.access &= ~kAccessSynchronize;
  }
  return open;
}

}  // namespace sm
