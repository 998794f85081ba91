// The transfer loop shared by file_read and file_write, with the platform
// call passed in so that its splitting and end rules can be tested alone.
#pragma once

#include <cstdint>

#include "base/error.h"

namespace sm {

inline constexpr uint32_t kMaxTransferCall = 16u << 20;

using TransferCall = ErrorCode (*)(void* context, void* buffer, uint32_t count, uint32_t* moved);

ErrorCode transfer_loop(TransferCall call, void* context, char* buffer, uint32_t count, uint32_t* done);

}  // namespace sm
