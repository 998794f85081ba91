// The well-known folders of the system and the user, by number, each found
// once per process from its sources (shell, registry, environment, or
// another special folder plus a sub-folder).
#pragma once

namespace sm {

enum SpecialFolderId : int {
  SF_NONE = 0,
  SF_WINDOWS = 1,
  SF_SYSTEM = 2,
  SF_SYSTEM_X86 = 3,
  SF_DRIVERS = 4,
  SF_SYSTEM_DRIVE = 5,
  SF_TEMP = 6,
  SF_PROGRAM_FILES = 7,
  SF_COMMON_APP_DATA = 8,
  SF_COMMON_DESKTOP = 9,
  SF_COMMON_PROGRAMS = 10,
  SF_COMMON_STARTUP = 11,
  SF_PROFILE = 12,
  SF_LOCAL_APP_DATA = 13,
  SF_APP_DATA = 14,
  SF_DESKTOP = 15,
  SF_PROGRAMS = 16,
  SF_STARTUP = 17,
  SF_WINDOWS_TEMP = 18,
  SF_LOCAL_BIN = 19,
};

// The text of a folder that no source could find; no file name may hold it.
inline constexpr const char16_t* kNoSpecialFolder = u"C:\\.<|>.";

// The folder's path; ids outside 0..20 are treated as 0. Never null.
const char16_t* special_folder(int id);

// The folder's sources tried now, bypassing (not filling) the folder's own
// cache: a malloc text, or null when no source yields a path.
char16_t* special_folder_compute(int id);

}  // namespace sm
