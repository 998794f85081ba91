// The SCF interpreter: tokenizer and evaluator, frames and variable scopes,
// command dispatch and procedures.
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/format.h"
#include "base/pool.h"
#include "base/text.h"
#include "script/script.h"
#include "script/word.h"

namespace sm {
namespace {

// Nested evaluations (command substitutions, bodies, procedure calls) each
// take native stack; a script that recurses without end stops here with an
// error instead of overflowing the stack.
constexpr unsigned kMaxNesting = 200;

constexpr char16_t kMsgOpenBrace[] = u"ERROR SCF: Unmatched open brace.\n";
constexpr char16_t kMsgCloseBrace[] = u"ERROR SCF: Unmatched close brace.\n";
constexpr char16_t kMsgUnknown[] = u"ERROR SCF: Unknown command \"%s\".\n";
constexpr char16_t kMsgTooFew[] = u"ERROR SCF: Too few arguments specified for %s command.\n";
constexpr char16_t kMsgTooMany[] = u"ERROR SCF: Too many arguments specified for %s command.\n";
constexpr char16_t kMsgNesting[] = u"ERROR SCF: Nesting too deep.\n";

size_t Grow(size_t count, size_t extra) { return count + count / 4 + extra; }

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == 0xFEFF; }
bool IsNameChar(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
}
bool IsAlnum(char16_t c) { return c != u'_' && IsNameChar(c); }

// A name of one to three digits without a leading zero (or "0") is a
// positional argument; returns its number or -1.
int PositionalIndex(const char16_t* name, size_t n) {
  if (n == 0 || n > 3 || (n > 1 && name[0] == u'0')) return -1;
  int value = 0;
  for (size_t i = 0; i < n; ++i) {
    if (name[i] < u'0' || name[i] > u'9') return -1;
    value = value * 10 + (name[i] - u'0');
  }
  return value;
}

struct ScriptFrame {
  ScriptFrame* caller = nullptr;
  size_t scope_start = 0;
  size_t base = 0;
  size_t top = 0;
  size_t capacity = 0;
  ScriptWord* words = nullptr;
  ScriptWord* capture = nullptr;
};

struct Variable {
  char16_t* name;
  char16_t* value;  // may be null
};

struct Command {
  const char16_t* name;
  CommandHandler* handler;
};

class Interpreter final : public ScriptInterpreter {
 public:
  explicit Interpreter(ScriptHost* host) : host_(host) {}

  void Free() override;
  void Out(const char16_t* text) override { OutN(text, TextLen(text)); }
  void OutN(const char16_t* text, size_t length) override;
  void OutF(const char16_t* format, ...) override;
  void Err(const char16_t* text) override {
    if (host_) host_->Err(text ? text : u"");
  }
  void ErrF(const char16_t* format, ...) override;
  void AddCommand(const char16_t* name, CommandHandler* handler) override;
  bool CheckArgs(size_t min, size_t max) override;
  size_t ArgCount() override { return current_->top - current_->base; }
  const char16_t* ArgText(size_t index) override {
    return index < ArgCount() ? WordText(&current_->words[current_->base + index]) : nullptr;
  }
  const char16_t* ArgData(size_t index) override {
    return index < ArgCount() ? WordData(&current_->words[current_->base + index]) : nullptr;
  }
  size_t ArgLength(size_t index) override {
    return index < ArgCount() ? current_->words[current_->base + index].length : 0;
  }
  const char16_t* GetVar(const char16_t* name) override { return GetVarN(name, TextLen(name)); }
  void SetVar(const char16_t* name, const char16_t* value) override {
    SetVarN(name, kWholeText, value, kWholeText);
  }
  void SetVarN(const char16_t* name, size_t name_length, const char16_t* value,
               size_t value_length) override;
  void Exit(int32_t code) override {
    exit_flag_ = true;
    exit_code_ = code;
  }
  bool ExitState(int32_t* code) override {
    if (code) *code = exit_code_;
    return exit_flag_;
  }
  void Eval(const char16_t* text, size_t length) override { Evaluate(text, length, nullptr); }
  int32_t Run(const char16_t* text, size_t length) override;

  void Evaluate(const char16_t* text, size_t length, ScriptWord* capture);

 private:
  ~Interpreter() = default;

  const char16_t* GetVarN(const char16_t* name, size_t n);
  bool PushWord(ScriptFrame* frame);
  void PopWords(ScriptFrame* frame, size_t keep);
  void ReadCommand(const char16_t* text, size_t length, size_t* pos);
  void ReadWord(const char16_t* text, size_t length, size_t* pos);
  bool ScanGroup(const char16_t* text, size_t length, size_t open, size_t* close);
  void Dispatch();
  CommandHandler* FindCommand(const char16_t* name, size_t n) const;
  void Fail(const char16_t* message) {
    Err(message);
    Exit(-1);
  }

  ScriptHost* host_;
  Variable* vars_ = nullptr;
  size_t var_count_ = 0;
  size_t var_capacity_ = 0;
  Command* commands_ = nullptr;
  size_t command_count_ = 0;
  size_t command_capacity_ = 0;
  ScriptFrame root_;
  ScriptFrame* current_ = &root_;
  bool exit_flag_ = false;
  int32_t exit_code_ = 0;
  unsigned nesting_ = 0;
};

void FreeFrameWords(ScriptFrame* frame) {
  for (size_t i = 0; i < frame->top; ++i) WordFree(&frame->words[i]);
  free(frame->words);
  frame->words = nullptr;
  frame->top = frame->capacity = 0;
}

void Interpreter::Free() {
  for (size_t i = 0; i < var_count_; ++i) {
    free(vars_[i].name);
    free(vars_[i].value);
  }
  free(vars_);
  free(commands_);
  FreeFrameWords(&root_);
  this->~Interpreter();
  ::operator delete(this, std::nothrow);
}

void Interpreter::OutN(const char16_t* text, size_t length) {
  if (!text) length = 0;
  for (ScriptFrame* frame = current_; frame; frame = frame->caller) {
    if (frame->capture) {
      WordAppend(frame->capture, text, length, false);
      return;
    }
  }
  if (!host_) return;
  // The host takes terminated texts; a counted piece is copied first.
  if (length == 0) {
    host_->Out(u"");
    return;
  }
  char16_t* copy = HeapDup(text, length);
  if (copy) {
    host_->Out(copy);
    free(copy);
  }
}

void Interpreter::OutF(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  ScratchPool pool;
  const char16_t* text = PoolFormatV(&pool, format, args);
  va_end(args);
  if (text) Out(text);
  pool.ReleaseAll();
}

void Interpreter::ErrF(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  char16_t* text = HeapFormatV(format, args);
  va_end(args);
  if (text) {
    Err(text);
    free(text);
  }
}

void Interpreter::AddCommand(const char16_t* name, CommandHandler* handler) {
  if (command_count_ == command_capacity_) {
    size_t capacity = Grow(command_count_, 5);
    auto* grown = static_cast<Command*>(realloc(commands_, capacity * sizeof(Command)));
    if (!grown) return;
    commands_ = grown;
    command_capacity_ = capacity;
  }
  commands_[command_count_++] = Command{name, handler};
}

bool Interpreter::CheckArgs(size_t min, size_t max) {
  size_t count = ArgCount();
  if (count >= min && count <= max) return true;
  ErrF(count < min ? kMsgTooFew : kMsgTooMany, count ? ArgText(0) : u"");
  Exit(-1);
  return false;
}

const char16_t* Interpreter::GetVarN(const char16_t* name, size_t n) {
  int position = PositionalIndex(name, n);
  if (position >= 0) {
    // Word n of the command that started the current run.
    ScriptFrame* caller = current_->caller;
    if (!caller) return nullptr;
    size_t index = caller->base + static_cast<size_t>(position);
    if (index >= caller->top) return nullptr;
    return WordText(&caller->words[index]);
  }
  for (size_t i = var_count_; i-- > 0;) {
    if (TextCompareAscii(vars_[i].name, kWholeText, name, n) == 0) return vars_[i].value;
  }
  return nullptr;
}

void Interpreter::SetVarN(const char16_t* name, size_t name_length, const char16_t* value,
                          size_t value_length) {
  if (name_length == kWholeText) name_length = TextLen(name);
  if (value_length == kWholeText) value_length = TextLen(value);
  // Copy first, so that running out of memory leaves the old variable alone.
  char16_t* value_copy = nullptr;
  if (value) {
    value_copy = HeapDup(value, value_length);
    if (!value_copy) return;
  }
  char16_t* kept_name = nullptr;
  for (size_t i = current_->scope_start; i < var_count_; ++i) {
    if (TextCompareAscii(vars_[i].name, kWholeText, name, name_length) == 0) {
      kept_name = vars_[i].name;
      free(vars_[i].value);
      memmove(&vars_[i], &vars_[i + 1], (var_count_ - i - 1) * sizeof(Variable));
      --var_count_;
      break;
    }
  }
  if (!kept_name) {
    kept_name = HeapDup(name, name_length);
    if (!kept_name) {
      free(value_copy);
      return;
    }
  }
  if (var_count_ == var_capacity_) {
    size_t capacity = Grow(var_count_, 5);
    auto* grown = static_cast<Variable*>(realloc(vars_, capacity * sizeof(Variable)));
    if (!grown) {
      free(kept_name);
      free(value_copy);
      return;
    }
    vars_ = grown;
    var_capacity_ = capacity;
  }
  vars_[var_count_++] = Variable{kept_name, value_copy};
}

int32_t Interpreter::Run(const char16_t* text, size_t length) {
  ScriptFrame frame;
  frame.caller = current_;
  frame.scope_start = var_count_;
  current_ = &frame;
  Evaluate(text, length, nullptr);
  while (var_count_ > frame.scope_start) {
    --var_count_;
    free(vars_[var_count_].name);
    free(vars_[var_count_].value);
  }
  current_ = frame.caller;
  FreeFrameWords(&frame);
  int32_t result = exit_code_;
  exit_flag_ = false;
  exit_code_ = 0;
  return result;
}

bool Interpreter::PushWord(ScriptFrame* frame) {
  if (frame->top == frame->capacity) {
    size_t capacity = Grow(frame->top, 4);
    auto* grown = static_cast<ScriptWord*>(realloc(frame->words, capacity * sizeof(ScriptWord)));
    if (!grown) return false;
    frame->words = grown;
    frame->capacity = capacity;
  }
  frame->words[frame->top++] = ScriptWord{};
  return true;
}

void Interpreter::PopWords(ScriptFrame* frame, size_t keep) {
  while (frame->top > keep) WordFree(&frame->words[--frame->top]);
}

void Interpreter::Evaluate(const char16_t* text, size_t length, ScriptWord* capture) {
  if (!text) length = 0;
  if (length == kWholeText) length = TextLen(text);
  ScriptFrame* frame = current_;
  size_t saved_base = frame->base;
  ScriptWord* saved_capture = frame->capture;
  size_t start = frame->top;
  frame->base = start;
  if (capture) frame->capture = capture;

  if (++nesting_ > kMaxNesting && !exit_flag_) Fail(kMsgNesting);
  size_t pos = 0;
  while (!exit_flag_ && pos < length) {
    char16_t c = text[pos];
    if (IsBlank(c) || c == u'\n') {
      ++pos;
    } else if (c == u'#') {
      while (pos < length && text[pos] != u'\n') ++pos;
      if (pos < length) ++pos;
    } else {
      ReadCommand(text, length, &pos);
      if (!exit_flag_) Dispatch();
      PopWords(frame, start);
    }
  }
  --nesting_;

  PopWords(frame, start);
  frame->base = saved_base;
  frame->capture = saved_capture;
}

void Interpreter::ReadCommand(const char16_t* text, size_t length, size_t* pos) {
  size_t i = *pos;
  while (i < length && !exit_flag_) {
    char16_t c = text[i];
    if (IsBlank(c)) {
      ++i;
      continue;
    }
    if (c == u'\n' || c == u';') {
      ++i;
      break;
    }
    if (c == u'$' && i + 1 < length) {
      // A '$' before a blank or a line break continues the command.
      char16_t d = text[i + 1];
      if (d == u' ' || d == u'\t' || d == 0xFEFF || d == u'\n') {
        i += 2;
        continue;
      }
      if (d == u'\r' && i + 2 < length && text[i + 2] == u'\n') {
        i += 3;
        continue;
      }
    }
    if (!PushWord(current_)) {
      ++i;
      continue;
    }
    ReadWord(text, length, &i);
  }
  *pos = i;
}

bool Interpreter::ScanGroup(const char16_t* text, size_t length, size_t open, size_t* close) {
  size_t depth = 0;
  for (size_t i = open; i < length; ++i) {
    if (text[i] == u'{') {
      ++depth;
    } else if (text[i] == u'}' && --depth == 0) {
      *close = i;
      return true;
    }
  }
  Fail(kMsgOpenBrace);
  return false;
}

void Interpreter::ReadWord(const char16_t* text, size_t length, size_t* pos) {
  ScriptFrame* frame = current_;
  size_t index = frame->top - 1;  // the word stack may move; keep the index
  size_t i = *pos;
  auto append = [&](const char16_t* piece, size_t n, bool may_view) {
    WordAppend(&frame->words[index], piece, n, may_view);
  };
  while (i < length && !exit_flag_) {
    char16_t c = text[i];
    if (IsBlank(c) || c == u'\n' || c == u';') break;
    if (c == u'{') {
      size_t close;
      if (!ScanGroup(text, length, i, &close)) break;
      append(text + i + 1, close - i - 1, true);
      i = close + 1;
      continue;
    }
    if (c == u'}') {
      Fail(kMsgCloseBrace);
      break;
    }
    if (c != u'$') {
      size_t end = i + 1;
      while (end < length && IsAlnum(text[end])) ++end;
      append(text + i, end - i, true);
      i = end;
      continue;
    }
    // '$' forms.
    char16_t d = i + 1 < length ? text[i + 1] : 0;
    if (d == u'\n' && i + 1 < length) {
      i += 2;
    } else if (d == u'\r' && i + 2 < length && text[i + 2] == u'\n') {
      i += 3;
    } else if (d == u'(' && i + 1 < length) {
      append(u"{", 1, false);
      i += 2;
    } else if (d == u')' && i + 1 < length) {
      append(u"}", 1, false);
      i += 2;
    } else if (d == u'-' && i + 2 < length && text[i + 2] == u'{' &&
               ((i + 4 < length && text[i + 3] == u'\n') ||
                (i + 5 < length && text[i + 3] == u'\r' && text[i + 4] == u'\n'))) {
      // $-{ and a line break: the group without its first line break.
      size_t close;
      if (!ScanGroup(text, length, i + 2, &close)) break;
      size_t from = i + (text[i + 3] == u'\n' ? 4 : 5);
      if (from < close) append(text + from, close - from, true);
      else append(text + from, 0, true);
      i = close + 1;
    } else if (d == u'{' && i + 1 < length) {
      size_t close;
      if (!ScanGroup(text, length, i + 1, &close)) break;
      ScriptWord captured;
      Evaluate(text + i + 2, close - i - 2, &captured);
      append(WordData(&captured), captured.length, false);
      WordFree(&captured);
      i = close + 1;
    } else {
      size_t end = i + 1;
      while (end < length && IsNameChar(text[end])) ++end;
      // Variable values are copied: a later substitution of the same
      // command may replace the variable and free its text.
      const char16_t* value = end > i + 1 ? GetVarN(text + i + 1, end - i - 1) : nullptr;
      if (value) append(value, TextLen(value), false);
      i = end;
    }
  }
  *pos = i;
}

CommandHandler* Interpreter::FindCommand(const char16_t* name, size_t n) const {
  for (size_t i = command_count_; i-- > 0;) {
    if (TextCompareAscii(commands_[i].name, kWholeText, name, n) == 0) return commands_[i].handler;
  }
  return nullptr;
}

void Interpreter::Dispatch() {
  ScriptFrame* frame = current_;
  size_t saved_base = frame->base;
  size_t index = 0;
  while (!exit_flag_ && index < frame->top - frame->base) {
    frame->base += index;
    next_word_index = -1;
    const char16_t* name = ArgText(0);
    size_t name_length = ArgLength(0);
    if (CommandHandler* handler = FindCommand(name, name_length)) {
      size_t commands = command_count_;
      handler->Execute(this);
      // Commands registered while a command runs end with it.
      if (command_count_ > commands) command_count_ = commands;
    } else if (const char16_t* body = GetVarN(name, name_length)) {
      int32_t result = Run(body, kWholeText);
      next_word_index = -1;
      if (result != 0) Exit(result);
    } else {
      ErrF(kMsgUnknown, name);
      Exit(-1);
    }
    if (next_word_index < 0) break;
    index = static_cast<size_t>(next_word_index);
  }
  next_word_index = -1;
  frame->base = saved_base;
}

}  // namespace

bool WordAppend(ScriptWord* word, const char16_t* text, size_t n, bool may_view) {
  if (word->length == 0 && word->capacity == 0 && !word->view && may_view) {
    word->view = text;
    word->length = n;
    return true;
  }
  if (n == 0) return true;
  size_t needed = word->length + n;
  if (needed + 1 > word->capacity) {
    size_t capacity = needed + needed / 2 + 10;
    auto* grown = static_cast<char16_t*>(realloc(word->buffer, capacity * sizeof(char16_t)));
    if (!grown) return false;
    if (word->view) {
      memcpy(grown, word->view, word->length * sizeof(char16_t));
      word->view = nullptr;
    }
    word->buffer = grown;
    word->capacity = capacity;
  } else if (word->view) {
    memcpy(word->buffer, word->view, word->length * sizeof(char16_t));
    word->view = nullptr;
  }
  memcpy(word->buffer + word->length, text, n * sizeof(char16_t));
  word->length = needed;
  word->buffer[needed] = 0;
  return true;
}

const char16_t* WordData(const ScriptWord* word) {
  if (word->view) return word->view;
  return word->buffer ? word->buffer : u"";
}

const char16_t* WordText(ScriptWord* word) {
  if (word->view) {
    const char16_t* view = word->view;
    size_t n = word->length;
    if (n + 1 > word->capacity) {
      auto* buffer = static_cast<char16_t*>(malloc((n + 1) * sizeof(char16_t)));
      if (!buffer) return u"";
      free(word->buffer);
      word->buffer = buffer;
      word->capacity = n + 1;
    }
    memcpy(word->buffer, view, n * sizeof(char16_t));
    word->buffer[n] = 0;
    word->view = nullptr;
  }
  return word->buffer ? word->buffer : u"";
}

void WordFree(ScriptWord* word) {
  free(word->buffer);
  *word = ScriptWord{};
}

void ScriptEvalCapture(ScriptInterpreter* interp, const char16_t* text, size_t length,
                       ScriptWord* capture) {
  static_cast<Interpreter*>(interp)->Evaluate(text, length, capture);
}

ScriptInterpreter* ScriptCreate(ScriptHost* host, const char16_t* const* variables) {
  void* memory = ::operator new(sizeof(Interpreter), std::nothrow);
  if (!memory) return nullptr;
  auto* interp = new (memory) Interpreter(host);
  for (size_t i = 0; variables && variables[i]; ++i) {
    const char16_t* entry = variables[i];
    size_t n = TextLen(entry);
    size_t eq = 1;
    while (eq < n && entry[eq] != u'=') ++eq;
    if (n == 0) continue;
    if (eq < n) interp->SetVarN(entry, eq, entry + eq + 1, n - eq - 1);
    else interp->SetVarN(entry, n, nullptr, 0);
  }
  ScriptAddBuiltins(interp);
  return interp;
}

}  // namespace sm
