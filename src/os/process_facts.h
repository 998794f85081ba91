// What a process asks about where it is: its current folder, its own
// executable, the computer, the user's language and the environment. The
// process values are computed once and kept; when the platform cannot
// answer they hold a fixed fallback text.
#pragma once

#include "base/pool.h"

namespace sm {

// The current folder, or of one drive (`X:.` made full); null when the
// platform has none or it does not fit 300 characters.
char16_t* current_folder(ScratchPool& pool);
char16_t* drive_current_folder(ScratchPool& pool, char16_t drive);

const char16_t* initial_current_folder();  // fallback `\`
const char16_t* module_file_name();        // fallback `\_`
const char16_t* own_executable_path();     // null unless the name has a root and an extension
const char16_t* module_folder();           // fallback `\`
const char16_t* executable_base_name();    // fallback `_`
const char16_t* computer_name();           // fallback `.`
const char16_t* ui_language();             // fallback `ENU`
const char16_t* const* environment_list();  // NAME=value texts, null-terminated; fallback empty
const char16_t* environment_value(const char16_t* name);

}  // namespace sm
