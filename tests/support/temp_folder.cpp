#include "support/temp_folder.h"

#include <atomic>
#include <random>
#include <string>

namespace sm::test {

TempFolder::TempFolder() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    auto name = "selfmount-test-" + std::to_string(random()) + "-" + std::to_string(counter++);
    path_ = base / name;
    if (std::filesystem::create_directory(path_)) return;
  }
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  // Tests may leave read-only files behind; make everything writable first.
  for (auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
    std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
  }
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace sm::test
