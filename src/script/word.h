// The growable wide string of the interpreter, shared by the evaluator and
// the built-in commands. Internal to the script module.
#pragma once

#include <cstddef>

#include "script/script.h"

namespace sm {

struct ScriptWord {
  size_t length = 0;
  size_t capacity = 0;             // units of buffer, 0 when none
  char16_t* buffer = nullptr;      // owned, terminated when present
  const char16_t* view = nullptr;  // borrowed text standing for the whole word
};

// Appends `n` units. With `may_view` the first piece of an empty word is
// borrowed instead of copied (the caller guarantees it outlives the word).
// Returns false when memory runs out; the word then keeps its old text.
bool WordAppend(ScriptWord* word, const char16_t* text, size_t n, bool may_view);
// The word's units (not necessarily terminated); never null.
const char16_t* WordData(const ScriptWord* word);
// The word as a terminated text in its own buffer; never null.
const char16_t* WordText(ScriptWord* word);
void WordFree(ScriptWord* word);

// Evaluates `text` in the current frame with `capture` receiving its output,
// as a command substitution does.
void ScriptEvalCapture(ScriptInterpreter* interp, const char16_t* text, size_t length,
                       ScriptWord* capture);

// Registers the built-in commands in a new interpreter.
void ScriptAddBuiltins(ScriptInterpreter* interp);

}  // namespace sm
