#include "os/known_folders.h"

#include <cstdlib>

#include "base/lock.h"
#include "base/text.h"
#include "os/cached_value.h"
#include "os/native.h"
#include "os/path.h"

namespace sm {
namespace {

using native::RegistryRoot;

enum class SourceKind : uint8_t { kNone, kFolder, kShell, kRegistry, kEnvironment };

struct Source {
  SourceKind kind;
  int number;  // special folder id or shell folder number
  RegistryRoot root;
  const char16_t* key;
  const char16_t* value;  // registry value or environment variable name
  const char16_t* sub_folder;
};

constexpr int kFolderCount = 21;
constexpr size_t kBufferUnits = 300;

constexpr const char16_t* kShellFolders = u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char16_t* kCurrentVersion = u"Software\\Microsoft\\Windows\\CurrentVersion";
constexpr RegistryRoot kUser = RegistryRoot::kCurrentUser;
constexpr RegistryRoot kMachine = RegistryRoot::kLocalMachine;

constexpr Source folder(int id, const char16_t* sub = nullptr) {
  return {SourceKind::kFolder, id, kUser, nullptr, nullptr, sub};
}
constexpr Source shell(int csidl) { return {SourceKind::kShell, csidl, kUser, nullptr, nullptr, nullptr}; }
constexpr Source registry(RegistryRoot root, const char16_t* key, const char16_t* value) {
  return {SourceKind::kRegistry, 0, root, key, value, nullptr};
}
constexpr Source environment(const char16_t* name) {
  return {SourceKind::kEnvironment, 0, kUser, nullptr, name, nullptr};
}

// Up to four sources per folder, tried in order. SF_WINDOWS and
// SF_SYSTEM_DRIVE are set when the table is first used.
const Source kSources[kFolderCount][4] = {
    /* SF_NONE */ {},
    /* SF_WINDOWS */ {},
    /* SF_SYSTEM */ {shell(0x25), folder(SF_WINDOWS, u"System32")},
    /* SF_SYSTEM_X86 */ {shell(0x29), folder(SF_WINDOWS, u"SysWow64")},
    /* SF_DRIVERS */ {folder(SF_SYSTEM, u"Drivers")},
    /* SF_SYSTEM_DRIVE */ {},
    /* SF_TEMP */ {environment(u"TEMP"), folder(SF_PROFILE, u"Local Settings\\Temp")},
    /* SF_PROGRAM_FILES */
    {registry(kMachine, kCurrentVersion, u"ProgramW6432Dir"), shell(0x26),
     registry(kMachine, kCurrentVersion, u"ProgramFilesDir"), environment(u"ProgramFiles")},
    /* SF_COMMON_APP_DATA */ {shell(0x23), environment(u"ALLUSERSPROFILE")},
    /* SF_COMMON_DESKTOP */
    {shell(0x19), registry(kMachine, kShellFolders, u"Common Desktop"), folder(SF_COMMON_APP_DATA, u"Desktop")},
    /* SF_COMMON_PROGRAMS */
    {shell(0x17), registry(kMachine, kShellFolders, u"Common Programs"),
     folder(SF_COMMON_APP_DATA, u"Start Menu\\Programs")},
    /* SF_COMMON_STARTUP */
    {shell(0x18), registry(kMachine, kShellFolders, u"Common Startup"),
     folder(SF_COMMON_APP_DATA, u"Start Menu\\Programs\\Startup")},
    /* SF_PROFILE */ {shell(0x28), environment(u"USERPROFILE")},
    /* SF_LOCAL_APP_DATA */ {shell(0x1C), folder(SF_PROFILE, u"Local Settings\\Application Data")},
    /* SF_APP_DATA */ {shell(0x1A), folder(SF_PROFILE, u"Application Data")},
    /* SF_DESKTOP */ {shell(0x10), registry(kUser, kShellFolders, u"Desktop"), folder(SF_PROFILE, u"Desktop")},
    /* SF_PROGRAMS */
    {shell(0x02), registry(kUser, kShellFolders, u"Programs"), folder(SF_PROFILE, u"Start Menu\\Programs")},
    /* SF_STARTUP */
    {shell(0x07), registry(kUser, kShellFolders, u"Startup"), folder(SF_PROFILE, u"Start Menu\\Programs\\Startup")},
    /* SF_WINDOWS_TEMP */ {folder(SF_WINDOWS, u"Temp")},
    /* SF_LOCAL_BIN */ {folder(SF_LOCAL_APP_DATA, u"bin")},
    /* 20 */ {},
};

std::atomic<const void*> slots[kFolderCount];
std::atomic<bool> initialised{false};

void initialise() {
  if (initialised.load(std::memory_order_acquire)) return;
  char16_t buffer[kBufferUnits];
  size_t length = native::windows_folder(buffer, kBufferUnits);
  if (length > 0 && length < kBufferUnits) {
    buffer[kBufferUnits - 1] = 0;
    if (char16_t* windows = cache_copy(buffer, length)) cache_publish(slots[SF_WINDOWS], windows, kNoSpecialFolder);
    if (length >= 3 && buffer[1] == u':' && is_path_separator(buffer[2])) {
      char16_t drive[3] = {buffer[0], u':', u'\\'};
      if (char16_t* copy = cache_copy(drive, 3)) cache_publish(slots[SF_SYSTEM_DRIVE], copy, kNoSpecialFolder);
    }
  }
  initialised.store(true, std::memory_order_release);
}

// The path one source yields, as a malloc text, or null.
char16_t* resolve_source(const Source& source) {
  char16_t buffer[kBufferUnits];
  size_t length = 0;
  const char16_t* found = buffer;
  switch (source.kind) {
    case SourceKind::kNone:
      return nullptr;
    case SourceKind::kFolder:
      found = special_folder(source.number);
      length = found == kNoSpecialFolder ? 0 : TextLen(found);
      break;
    case SourceKind::kShell:
      length = native::shell_folder(source.number, buffer, kBufferUnits);
      break;
    case SourceKind::kRegistry:
      length = native::registry_string(source.root, source.key, source.value, buffer, kBufferUnits);
      break;
    case SourceKind::kEnvironment:
      length = native::environment_variable(source.value, buffer, kBufferUnits);
      if (length == 0 || length >= kBufferUnits) {
        // A variable the session lost may still be in the user's stored environment.
        length = native::registry_string(kUser, u"Environment", source.value, buffer, kBufferUnits);
      }
      break;
  }
  if (length == 0 || length >= kBufferUnits) return nullptr;
  if (found == buffer) buffer[length] = 0;
  if (!source.sub_folder) return cache_copy(found, length);

  ScratchPool pool;
  char16_t* joined = path_join(pool, found, source.sub_folder);
  char16_t* result = joined ? cache_copy(joined, TextLen(joined)) : nullptr;
  pool.ReleaseAll();
  return result;
}

}  // namespace

char16_t* special_folder_compute(int id) {
  initialise();
  if (id < 0 || id >= kFolderCount) return nullptr;
  for (const Source& source : kSources[id]) {
    if (char16_t* path = resolve_source(source)) return path;
  }
  return nullptr;
}

const char16_t* special_folder(int id) {
  initialise();
  if (id < 0 || id >= kFolderCount) id = SF_NONE;
  if (const void* value = slots[id].load(std::memory_order_acquire)) return static_cast<const char16_t*>(value);
  char16_t* path = special_folder_compute(id);
  keyed_lock(&slots[id]);
  const char16_t* stored = cache_publish_text(slots[id], path, kNoSpecialFolder);
  keyed_unlock(&slots[id]);
  return stored;
}

}  // namespace sm
