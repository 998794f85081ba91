#include "os/transfer.h"

namespace sm {

ErrorCode transfer_loop(TransferCall call, void* context, char* buffer, uint32_t count, uint32_t* done) {
  uint32_t total = 0;
  ErrorCode result = kOk;
  while (total < count) {
    uint32_t ask = count - total < kMaxTransferCall ? count - total : kMaxTransferCall;
    uint32_t moved = 0;
    ErrorCode error = call(context, buffer + total, ask, &moved);
    if (error == kOk) {
      total += moved;
      if (moved != kMaxTransferCall) break;  // a short call ends the transfer
      continue;
    }
    if (error == 995 && total == 0) continue;  // aborted before anything moved: ask again
    // The end of the data or of the room for it is not a failure: the caller
    // sees it in the count.
    if (error == kErrorEndOfFile || error == 39 || error == 64 || error == kErrorBrokenPipe ||
        error == kErrorDiskFull || error == 232 || error == 995) {
      break;
    }
    result = error;
    break;
  }
  if (done) *done = total;
  return result;
}

}  // namespace sm
