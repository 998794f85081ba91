// Makes a link to a folder (a symbolic link); tests skip when the system
// cannot make one.
#pragma once

#include <filesystem>
#include <string>

namespace sm::test {

// Empty on success, else why it failed.
std::string make_folder_link(const std::filesystem::path& target, const std::filesystem::path& link);

}  // namespace sm::test
