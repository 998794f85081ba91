// The password prompt a device's load may use: an input handle to read the
// answer from and an output handle to ask on. No device of this system asks.
#pragma once

#include "base/error.h"
#include "os/handle.h"

namespace sm {

class PasswordProvider {
 public:
  PasswordProvider(FileHandle input, FileHandle output) : input_(input), output_(output) {}
  virtual ~PasswordProvider() { forget_password(); }

  // *password: NUL-terminated 8-bit text, kept until forget_password.
  virtual ErrorCode get_password(char** password);
  // Overwrites a kept password with zeros and frees it.
  virtual void forget_password();

 private:
  FileHandle input_;
  FileHandle output_;
  char* password_ = nullptr;
};

}  // namespace sm
