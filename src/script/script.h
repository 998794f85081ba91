// SCF: the small shell-like command language in which user text data is
// written. Every value is a wide text; a script is a list of commands, each a
// list of words, the first naming a command.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/utf.h"

namespace sm {

class ScriptInterpreter;

// Receives what a script writes when nothing captures it, and its errors.
class ScriptHost {
 public:
  virtual void Out(const char16_t* text) = 0;
  virtual void Err(const char16_t* text) = 0;

 protected:
  ~ScriptHost() = default;
};

// One command of the language. A handler may carry data of its own.
class CommandHandler {
 public:
  virtual void Execute(ScriptInterpreter* interp) = 0;

 protected:
  ~CommandHandler() = default;
};

// The interpreter. "The running command" is the command whose words start at
// the current frame's base; its name is word 0.
class ScriptInterpreter {
 public:
  virtual void Free() = 0;
  virtual void Out(const char16_t* text) = 0;
  virtual void OutN(const char16_t* text, size_t length) = 0;
  virtual void OutF(const char16_t* format, ...) = 0;
  virtual void Err(const char16_t* text) = 0;
  virtual void ErrF(const char16_t* format, ...) = 0;
  // The name is not copied: it must outlive the interpreter.
  virtual void AddCommand(const char16_t* name, CommandHandler* handler) = 0;
  virtual bool CheckArgs(size_t min, size_t max) = 0;
  virtual size_t ArgCount() = 0;
  virtual const char16_t* ArgText(size_t index) = 0;
  virtual const char16_t* ArgData(size_t index) = 0;
  virtual size_t ArgLength(size_t index) = 0;
  virtual const char16_t* GetVar(const char16_t* name) = 0;
  virtual void SetVar(const char16_t* name, const char16_t* value) = 0;
  virtual void SetVarN(const char16_t* name, size_t name_length, const char16_t* value,
                       size_t value_length) = 0;
  virtual void Exit(int32_t code) = 0;
  virtual bool ExitState(int32_t* code) = 0;
  virtual void Eval(const char16_t* text, size_t length) = 0;
  virtual int32_t Run(const char16_t* text, size_t length) = 0;

  // Lengths of kWholeText mean: up to the terminating NUL.

  // -1, or the word at which the dispatcher goes on after the current
  // command: how "if ... else if ..." chains continue.
  intptr_t next_word_index = -1;

 protected:
  ~ScriptInterpreter() = default;
};

// A new interpreter with the given host (may be null) and the built-in
// commands. `variables` is null or a null-terminated list of name=value texts
// set in the root scope (an entry without '=' gives a variable without value).
// Returns null when memory runs out.
ScriptInterpreter* ScriptCreate(ScriptHost* host, const char16_t* const* variables);

// The built-in commands, in the order every new interpreter registers them.
struct ScriptBuiltin {
  const char16_t* name;
  CommandHandler* handler;
};
size_t ScriptBuiltinCount();
const ScriptBuiltin* ScriptBuiltins();

}  // namespace sm
