#include "media/password_provider.h"

#include <cstdlib>
#include <cstring>

namespace sm {

ErrorCode PasswordProvider::get_password(char** password) {
  // Neither device kind is encrypted, so there is no prompt to show: the
  // handles are kept only for a device that would need one.
  (void)input_;
  (void)output_;
  *password = password_;
  return kErrorInvalidHandle;
}

void PasswordProvider::forget_password() {
  if (password_ == nullptr) return;
  volatile char* p = password_;
  while (*p != '\0') *p++ = '\0';
  free(password_);
  password_ = nullptr;
}

}  // namespace sm
