#include "base/error.h"

#include <gtest/gtest.h>

namespace sm {
namespace {

// The named codes are the Win32 values that travel between layers and show in
// diagnostic lines; a changed number would change what users read.
TEST(ErrorCode, NamedCodesKeepTheirWin32Values) {
  EXPECT_EQ(kErrorBadFormat, 11u);
  EXPECT_EQ(kErrorEndOfFile, 38u);
  EXPECT_EQ(kErrorUnknownRevision, 1305u);
}

}  // namespace
}  // namespace sm
