// Platform pieces the usertext tests need; implemented in the backend test
// files (posix/ or win32/).
#pragma once

#include <functional>
#include <string>

namespace sm::test {

// Sets (or, with null, removes) a variable of the process environment.
void SetEnvironment(const char* name, const char* value);

// Runs `body` with the process's standard output sent to a file and returns
// the bytes written there.
std::string CaptureStdout(const std::function<void()>& body);

}  // namespace sm::test
