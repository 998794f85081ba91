#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/temp_folder.h"
#include "usertext/platform.h"
#include "usertext/test_env.h"
#include "usertext/usertext.h"

namespace sm::test {

void SetEnvironment(const char* name, const char* value) {
  SetEnvironmentVariableA(name, value);
}

std::string CaptureStdout(const std::function<void()>& body) {
  TempFolder folder;
  std::wstring path = (folder.path() / "stdout").wstring();
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(file, INVALID_HANDLE_VALUE);
  HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
  SetStdHandle(STD_OUTPUT_HANDLE, file);
  body();
  SetStdHandle(STD_OUTPUT_HANDLE, saved);
  std::string bytes;
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

// The language value lives in the user's registry; each case writes it, lets
// the module compute the code afresh, and the original value comes back at
// the end.
class UserTextLanguageRegistry : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\International", 0, nullptr, 0,
                              KEY_READ | KEY_WRITE, nullptr, &key_, nullptr),
              ERROR_SUCCESS);
    saved_size_ = sizeof(saved_);
    had_value_ = RegQueryValueExW(key_, L"sLanguage", nullptr, &saved_type_, saved_, &saved_size_) ==
                 ERROR_SUCCESS;
  }
  void TearDown() override {
    if (had_value_) RegSetValueExW(key_, L"sLanguage", 0, saved_type_, saved_, saved_size_);
    else RegDeleteValueW(key_, L"sLanguage");
    RegCloseKey(key_);
    UserTextLanguageFree();
  }
  std::u16string LanguageWith(DWORD type, const void* data, DWORD size) {
    EXPECT_EQ(RegSetValueExW(key_, L"sLanguage", 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    UserTextLanguageFree();
    return UserTextLanguage();
  }

  HKEY key_ = nullptr;
  BYTE saved_[1024];
  DWORD saved_size_ = 0;
  DWORD saved_type_ = 0;
  bool had_value_ = false;
};

TEST_F(UserTextLanguageRegistry, ReadsTheUsersLanguage) {
  EXPECT_EQ(LanguageWith(REG_SZ, L"DEU", 8), u"DEU");
  EXPECT_EQ(UserTextLanguage(), UserTextLanguage());  // published once
  EXPECT_EQ(LanguageWith(REG_EXPAND_SZ, L"FRA", 8), u"FRA");
}

TEST_F(UserTextLanguageRegistry, FallsBackToEnu) {
  RegDeleteValueW(key_, L"sLanguage");
  UserTextLanguageFree();
  EXPECT_EQ(std::u16string(UserTextLanguage()), u"ENU");
  DWORD number = 7;
  EXPECT_EQ(LanguageWith(REG_DWORD, &number, sizeof(number)), u"ENU");
}

TEST_F(UserTextLanguageRegistry, TwoHundredBytesAtMost) {
  std::wstring long_value(101, L'x');
  // Exactly 200 bytes keep their first 99 units; more do not count.
  EXPECT_EQ(LanguageWith(REG_SZ, long_value.c_str(), 200), std::u16string(99, u'x'));
  EXPECT_EQ(LanguageWith(REG_SZ, long_value.c_str(), 202), u"ENU");
  EXPECT_EQ(LanguageWith(REG_SZ, long_value.c_str(), 198), std::u16string(99, u'x'));
}

}  // namespace sm::test
