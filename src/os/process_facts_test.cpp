#include "os/process_facts.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "base/text.h"
#include "os/file.h"
#include "os/path.h"
#include "os/known_folders.h"
#include "support/temp_folder.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace sm {
namespace {

std::u16string text(const char16_t* value) { return value ? std::u16string(value) : std::u16string(u"<null>"); }

[[maybe_unused]] bool same_ignoring_case(const std::u16string& a, const std::u16string& b) {
  return TextCompareFold(a.c_str(), b.c_str()) == 0;
}

TEST(ProcessFacts, OwnExecutable) {
  std::u16string name = text(module_file_name());
  bool rooted = false;
  ASSERT_EQ(path_analyse(name.c_str(), nullptr, &rooted, nullptr, nullptr), kOk);
  EXPECT_TRUE(rooted) << std::string(name.begin(), name.end());
  EXPECT_EQ(module_file_name(), module_file_name());  // computed once

  EXPECT_EQ(text(executable_base_name()), u"os_test");
  std::u16string folder = text(module_folder());
  EXPECT_EQ(name.substr(0, folder.size()), folder);
  EXPECT_EQ(name.substr(folder.size(), 8), u"\\os_test");
  EXPECT_EQ(path_query(folder.c_str(), nullptr), kOk);
#ifdef _WIN32
  EXPECT_EQ(text(own_executable_path()), name);
  EXPECT_TRUE(same_ignoring_case(name.substr(name.size() - 4), u".exe"));
#else
  EXPECT_EQ(own_executable_path(), nullptr);  // the name has no extension
#endif
}

TEST(ProcessFacts, ComputerLanguageAndFolders) {
  EXPECT_FALSE(text(computer_name()).empty());
  EXPECT_FALSE(text(ui_language()).empty());
#ifndef _WIN32
  EXPECT_EQ(text(ui_language()), u"ENU");
#endif
  ScratchPool pool;
  EXPECT_EQ(text(initial_current_folder()), text(current_folder(pool)));
  EXPECT_EQ(initial_current_folder(), initial_current_folder());
}

TEST(ProcessFacts, Environment) {
  const char16_t* const* list = environment_list();
  ASSERT_NE(list, nullptr);
  ASSERT_NE(list[0], nullptr);
  const char16_t* path = environment_value(u"PATH");
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(environment_value(u"path"), path);
  EXPECT_EQ(environment_value(u"NO_SUCH_VARIABLE_HERE_42"), nullptr);
}

TEST(PathSearch, FolderListAndInitialFolder) {
  test::TempFolder folder;
  std::u16string root = folder.path().u16string();
  ASSERT_EQ(folder_create((root + u"\\app").c_str()), kOk);
  ASSERT_EQ(folder_create((root + u"\\in_the_way").c_str()), kOk);
  ASSERT_EQ(folder_create((root + u"\\in_the_way\\tool.exe").c_str()), kOk);
  ASSERT_EQ(folder_create((root + u"\\bin").c_str()), kOk);
  ASSERT_EQ(file_open(nullptr, (root + u"\\app\\tool.exe").c_str(), 0x018C), kOk);
  ASSERT_EQ(file_open(nullptr, (root + u"\\bin\\tool.exe").c_str(), 0x018C), kOk);

  ScratchPool pool;
  auto full = [&](const std::u16string& relative) { return text(path_full(pool, nullptr, (root + relative).c_str())); };
  std::u16string list = root + u"\\in_the_way;;" + root + u"\\bin";
  EXPECT_EQ(text(path_search(pool, 0x5, (root + u"\\app").c_str(), list.c_str(), u"tool.exe")), full(u"\\app\\tool.exe"));
  // A folder of that name is skipped, an empty element is ignored.
  EXPECT_EQ(text(path_search(pool, 0, nullptr, list.c_str(), u"tool.exe")), full(u"\\bin\\tool.exe"));
  EXPECT_EQ(path_search(pool, 0, nullptr, list.c_str(), u"missing.exe"), nullptr);
  // A full name needs no search.
  std::u16string absolute = root + u"\\app\\tool.exe";
  EXPECT_EQ(text(path_search(pool, 0, nullptr, nullptr, absolute.c_str())), full(u"\\app\\tool.exe"));
  EXPECT_EQ(path_search(pool, 0, nullptr, nullptr, u"\\\\server"), nullptr);
  EXPECT_EQ(path_search(pool, 0x7, nullptr, nullptr, u"os_test_no_such_file"), nullptr);
  EXPECT_EQ(pool.failures, 0u);
}

TEST(SpecialFolder, OutOfRangeAndMissing) {
  EXPECT_EQ(text(special_folder(0)), u"C:\\.<|>.");
  EXPECT_EQ(special_folder(21), special_folder(0));
  EXPECT_EQ(special_folder(-1), special_folder(0));
  EXPECT_EQ(special_folder(SF_TEMP), special_folder(SF_TEMP));
  EXPECT_FALSE(text(special_folder(SF_TEMP)).empty());
  for (int id = 0; id <= 20; ++id) EXPECT_NE(special_folder(id), nullptr) << id;
}

#ifdef _WIN32
std::u16string environment_text(const wchar_t* name) {
  wchar_t buffer[400];
  DWORD length = GetEnvironmentVariableW(name, buffer, 400);
  return length && length < 400 ? std::u16string(reinterpret_cast<char16_t*>(buffer), length) : u"";
}

TEST(SpecialFolder, WindowsSources) {
  std::u16string windows = text(special_folder(SF_WINDOWS));
  EXPECT_TRUE(same_ignoring_case(windows, u"C:\\windows")) << std::string(windows.begin(), windows.end());
  EXPECT_EQ(text(special_folder(SF_SYSTEM_DRIVE)), u"C:\\");
  EXPECT_EQ(text(special_folder(SF_WINDOWS_TEMP)), windows + u"\\Temp");
  EXPECT_EQ(text(special_folder(SF_TEMP)), environment_text(L"TEMP"));
  bool is_folder = false;
  EXPECT_EQ(path_query(special_folder(SF_SYSTEM), &is_folder), kOk);
  EXPECT_TRUE(is_folder);
}

TEST(SpecialFolder, TempFromTheStoredEnvironment) {
  std::u16string saved_variable = environment_text(L"TEMP");
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Environment", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  wchar_t saved_value[400];
  DWORD saved_bytes = sizeof saved_value;
  DWORD saved_type = 0;
  bool had_value = RegQueryValueExW(key, L"TEMP", nullptr, &saved_type, reinterpret_cast<BYTE*>(saved_value),
                                    &saved_bytes) == ERROR_SUCCESS;
  const wchar_t stored[] = L"%USERPROFILE%\\Temp";
  ASSERT_EQ(RegSetValueExW(key, L"TEMP", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(stored), sizeof stored),
            ERROR_SUCCESS);
  SetEnvironmentVariableW(L"TEMP", nullptr);

  char16_t* found = special_folder_compute(SF_TEMP);
  EXPECT_EQ(text(found), u"%USERPROFILE%\\Temp");  // taken as stored, not expanded
  free(found);

  // Neither the variable nor the stored value: the profile's folder.
  RegDeleteValueW(key, L"TEMP");
  found = special_folder_compute(SF_TEMP);
  EXPECT_EQ(text(found), text(special_folder(SF_PROFILE)) + u"\\Local Settings\\Temp");
  free(found);

  if (had_value) RegSetValueExW(key, L"TEMP", 0, saved_type, reinterpret_cast<BYTE*>(saved_value), saved_bytes);
  RegCloseKey(key);
  SetEnvironmentVariableW(L"TEMP", reinterpret_cast<const wchar_t*>(saved_variable.c_str()));
}
#else
TEST(SpecialFolder, PosixSources) {
  EXPECT_EQ(text(special_folder(SF_WINDOWS)), u"C:\\.<|>.");
  EXPECT_EQ(text(special_folder(SF_SYSTEM_DRIVE)), u"C:\\.<|>.");
  const char* saved = getenv("TEMP");
  std::string saved_text = saved ? saved : "";
  setenv("TEMP", "/var/tmp/x", 1);
  char16_t* found = special_folder_compute(SF_TEMP);
  EXPECT_EQ(text(found), u"/var/tmp/x");
  free(found);
  unsetenv("TEMP");
  found = special_folder_compute(SF_TEMP);
  EXPECT_EQ(text(found), text(special_folder(SF_PROFILE)) + u"\\Local Settings\\Temp");
  free(found);
  if (saved) setenv("TEMP", saved_text.c_str(), 1);
  EXPECT_EQ(special_folder_compute(SF_WINDOWS_TEMP), nullptr);
}
#endif

}  // namespace
}  // namespace sm
