// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes out of scope.
#pragma once

#include <filesystem>

namespace sm::test {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace sm::test
