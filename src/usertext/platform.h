// What the user text module asks of the platform, and the resets the tests
// and the exit routine use. Internal to the usertext module.
#pragma once

#include <cstddef>

namespace sm {

// Writes bytes to the process's standard output (which 0) or error (1); an
// invalid handle writes nothing.
void UserTextStdWrite(int which, const char* bytes, size_t count);

// The language value of the user's international settings as a heap text
// (the caller frees it), or null when there is none that counts.
char16_t* UserTextReadLanguage();

// The value of an environment variable as a heap text, or null when unset.
char16_t* UserTextReadEnvironment(const char16_t* name);

// Frees the table and the published language code; the next call of an
// operation starts afresh (the table reads the test mode again).
void UserTextTableFree();
void UserTextLanguageFree();

// For tests: the number of entries, and the stored spelling of an identifier
// (null when absent).
size_t UserTextEntryCount();
const char16_t* UserTextStoredId(const char16_t* id);

}  // namespace sm
