#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "support/temp_folder.h"
#include "usertext/test_env.h"
#include "usertext/usertext.h"

namespace sm::test {

void SetEnvironment(const char* name, const char* value) {
  if (value) setenv(name, value, 1);
  else unsetenv(name);
}

std::string CaptureStdout(const std::function<void()>& body) {
  fflush(stdout);
  TempFolder folder;
  std::string path = (folder.path() / "stdout").string();
  int file = open(path.c_str(), O_CREAT | O_RDWR | O_TRUNC, 0600);
  int saved = dup(1);
  dup2(file, 1);
  body();
  dup2(saved, 1);
  close(saved);
  std::string bytes;
  lseek(file, 0, SEEK_SET);
  char buffer[4096];
  ssize_t got;
  while ((got = read(file, buffer, sizeof(buffer))) > 0) bytes.append(buffer, static_cast<size_t>(got));
  close(file);
  return bytes;
}

TEST(UserTextLanguage, WithoutARegistryTheFallbackIsEnu) {
  EXPECT_EQ(std::u16string(UserTextLanguage()), u"ENU");
  EXPECT_EQ(UserTextLanguage(), UserTextLanguage());  // computed once
}

}  // namespace sm::test
