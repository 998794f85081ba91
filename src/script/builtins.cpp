// The built-in commands of SCF: output, variables, control flow, text tests
// and integer arithmetic.
#include <cstdint>

#include "base/glob.h"
#include "base/text.h"
#include "base/value.h"
#include "script/script.h"
#include "script/word.h"

namespace sm {
namespace {

constexpr size_t kAny = static_cast<size_t>(-1);

int64_t WordValue(ScriptInterpreter* in, size_t index) {
  return ParseValue(in->ArgText(index), in->ArgLength(index), nullptr);
}

void OutNumber(ScriptInterpreter* in, int64_t value, uint32_t flags) {
  char16_t buffer[32];
  FormatValue(buffer, 32, value, flags, 0);
  in->Out(buffer);
}

void OutTruth(ScriptInterpreter* in, bool value) { in->Out(value ? u"1" : u"0"); }

void OutOrder(ScriptInterpreter* in, int order) { in->Out(order < 0 ? u"-1" : order > 0 ? u"1" : u"0"); }

// A handler whose behaviour is a plain function of the interpreter.
class Simple final : public CommandHandler {
 public:
  using Fn = void (*)(ScriptInterpreter*);
  constexpr explicit Simple(Fn fn) : fn_(fn) {}
  void Execute(ScriptInterpreter* in) override { fn_(in); }

 private:
  Fn fn_;
};

void CmdExit(ScriptInterpreter* in) {
  if (!in->CheckArgs(1, 2)) {
    in->Exit(0);
    return;
  }
  in->Exit(in->ArgCount() == 2 ? static_cast<int32_t>(WordValue(in, 1)) : 0);
}

// Words 1 onward joined with single spaces, handed to `emit` in one piece.
template <typename Emit>
void Joined(ScriptInterpreter* in, Emit emit) {
  size_t count = in->ArgCount();
  if (count < 2) return;
  if (count == 2) {
    emit(in->ArgText(1));
    return;
  }
  ScriptWord joined;
  WordAppend(&joined, in->ArgData(1), in->ArgLength(1), true);
  for (size_t i = 2; i < count; ++i) {
    WordAppend(&joined, u" ", 1, false);
    WordAppend(&joined, in->ArgData(i), in->ArgLength(i), false);
  }
  emit(WordText(&joined));
  WordFree(&joined);
}

void CmdOut(ScriptInterpreter* in) {
  Joined(in, [in](const char16_t* text) { in->Out(text); });
}

void CmdErr(ScriptInterpreter* in) {
  Joined(in, [in](const char16_t* text) { in->Err(text); });
}

void CmdParse(ScriptInterpreter* in) {
  if (!in->CheckArgs(2, 2)) return;
  in->Eval(in->ArgText(1), in->ArgLength(1));
}

void CmdSet(ScriptInterpreter* in) {
  if (!in->CheckArgs(2, 3)) return;
  if (in->ArgCount() == 2) in->SetVarN(in->ArgData(1), in->ArgLength(1), nullptr, 0);
  else in->SetVarN(in->ArgData(1), in->ArgLength(1), in->ArgData(2), in->ArgLength(2));
}

void CmdGet(ScriptInterpreter* in) {
  if (!in->CheckArgs(2, 2)) return;
  const char16_t* value = in->GetVar(in->ArgText(1));
  in->Out(value ? value : u"");
}

void CmdIf(ScriptInterpreter* in) {
  if (!in->CheckArgs(3, kAny)) return;
  if (WordValue(in, 1) != 0) {
    in->Eval(in->ArgText(2), in->ArgLength(2));
    return;
  }
  size_t count = in->ArgCount();
  if (count == 3) return;
  if (TextCompareAscii(in->ArgData(3), in->ArgLength(3), u"else", 4) != 0) {
    in->ErrF(u"ERROR SCF: Expecting \"else\" but found \"%s\".\n", in->ArgText(3));
    in->Exit(-1);
  } else if (count == 4) {
    in->Err(u"ERROR SCF: Missing else body.\n");
    in->Exit(-1);
  } else if (count == 5) {
    in->Eval(in->ArgText(4), in->ArgLength(4));
  } else {
    in->next_word_index = 4;
  }
}

void CmdWhile(ScriptInterpreter* in) {
  if (!in->CheckArgs(3, 3)) return;
  // The word buffers stay put while the command runs, even if the word
  // stack itself moves.
  const char16_t* condition = in->ArgText(1);
  size_t condition_length = in->ArgLength(1);
  const char16_t* body = in->ArgText(2);
  size_t body_length = in->ArgLength(2);
  for (;;) {
    ScriptWord captured;
    ScriptEvalCapture(in, condition, condition_length, &captured);
    int64_t value = ParseValue(WordText(&captured), captured.length, nullptr);
    WordFree(&captured);
    if (value == 0) return;
    in->Eval(body, body_length);
  }
}

void CmdNot(ScriptInterpreter* in) {
  if (in->CheckArgs(2, 2)) OutTruth(in, WordValue(in, 1) == 0);
}

void CmdLen(ScriptInterpreter* in) {
  if (in->CheckArgs(2, 2)) OutNumber(in, static_cast<int64_t>(in->ArgLength(1)), 0);
}

void CmdCmp(ScriptInterpreter* in) {
  if (in->CheckArgs(3, 3))
    OutOrder(in, TextCompare(in->ArgData(1), in->ArgLength(1), in->ArgData(2), in->ArgLength(2)));
}

void CmdAsciiCmpi(ScriptInterpreter* in) {
  if (in->CheckArgs(3, 3))
    OutOrder(in, TextCompareAscii(in->ArgData(1), in->ArgLength(1), in->ArgData(2), in->ArgLength(2)));
}

void CmdGlob(ScriptInterpreter* in) {
  if (in->CheckArgs(3, 3)) OutTruth(in, GlobMatch(in->ArgText(1), in->ArgText(2)));
}

void CmdAsciiGlobi(ScriptInterpreter* in) {
  if (in->CheckArgs(3, 3)) OutTruth(in, GlobMatchAscii(in->ArgText(1), in->ArgText(2)));
}

char16_t Upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }
char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

template <char16_t (*Change)(char16_t)>
void CmdCaseAll(ScriptInterpreter* in) {
  if (!in->CheckArgs(2, 2)) return;
  const char16_t* text = in->ArgData(1);
  size_t n = in->ArgLength(1);
  for (size_t i = 0; i < n; ++i) {
    char16_t c = Change(text[i]);
    in->OutN(&c, 1);
  }
}

template <char16_t (*Change)(char16_t)>
void CmdCaseFirst(ScriptInterpreter* in) {
  if (!in->CheckArgs(2, 2) || in->ArgLength(1) == 0) return;
  const char16_t* text = in->ArgText(1);
  char16_t c = Change(text[0]);
  in->OutN(&c, 1);
  in->Out(text + 1);
}

// Comparison and logic operators share one Execute, arithmetic another; each
// object carries its function.
using ValueFn = int64_t (*)(int64_t, int64_t);

class Operator final : public CommandHandler {
 public:
  constexpr Operator(ValueFn fn, bool truth) : fn_(fn), truth_(truth) {}
  void Execute(ScriptInterpreter* in) override {
    if (!in->CheckArgs(3, 3)) return;
    int64_t result = fn_(WordValue(in, 1), WordValue(in, 2));
    if (truth_) OutTruth(in, result != 0);
    else OutNumber(in, result, VALUE_NEGATIVE);
  }

 private:
  ValueFn fn_;
  bool truth_;
};

// Arithmetic wraps modulo 2^64. Division by zero gives 0 and the remainder
// the dividend, so that a == (a / b) * b + a % b still holds; INT64_MIN / -1
// wraps to INT64_MIN instead of trapping.
uint64_t U(int64_t v) { return static_cast<uint64_t>(v); }
int64_t S(uint64_t v) { return static_cast<int64_t>(v); }
int64_t OpAdd(int64_t a, int64_t b) { return S(U(a) + U(b)); }
int64_t OpSub(int64_t a, int64_t b) { return S(U(a) - U(b)); }
int64_t OpMul(int64_t a, int64_t b) { return S(U(a) * U(b)); }
int64_t OpDiv(int64_t a, int64_t b) {
  if (b == 0) return 0;
  if (b == -1) return S(0 - U(a));
  return a / b;
}
int64_t OpRem(int64_t a, int64_t b) {
  if (b == 0) return a;
  if (b == -1) return 0;
  return a % b;
}
int64_t OpEq(int64_t a, int64_t b) { return a == b; }
int64_t OpNe(int64_t a, int64_t b) { return a != b; }
int64_t OpGt(int64_t a, int64_t b) { return a > b; }
int64_t OpGe(int64_t a, int64_t b) { return a >= b; }
int64_t OpLt(int64_t a, int64_t b) { return a < b; }
int64_t OpLe(int64_t a, int64_t b) { return a <= b; }
int64_t OpAnd(int64_t a, int64_t b) { return a != 0 && b != 0; }
int64_t OpOr(int64_t a, int64_t b) { return a != 0 || b != 0; }

Simple g_exit(CmdExit), g_out(CmdOut), g_err(CmdErr), g_parse(CmdParse), g_set(CmdSet), g_get(CmdGet),
    g_if(CmdIf), g_while(CmdWhile), g_not(CmdNot), g_len(CmdLen), g_cmp(CmdCmp), g_asciicmpi(CmdAsciiCmpi),
    g_glob(CmdGlob), g_asciiglobi(CmdAsciiGlobi), g_asciiupper(CmdCaseAll<Upper>),
    g_asciilower(CmdCaseAll<Lower>), g_asciiupper1(CmdCaseFirst<Upper>), g_asciilower1(CmdCaseFirst<Lower>);
Operator g_eq(OpEq, true), g_ne(OpNe, true), g_gt(OpGt, true), g_ge(OpGe, true), g_lt(OpLt, true),
    g_le(OpLe, true), g_add(OpAdd, false), g_sub(OpSub, false), g_mul(OpMul, false), g_div(OpDiv, false),
    g_rem(OpRem, false), g_and(OpAnd, true), g_or(OpOr, true);

const ScriptBuiltin kBuiltins[] = {
    {u"exit", &g_exit},
    {u"out", &g_out},
    {u"err", &g_err},
    {u"parse", &g_parse},
    {u"set", &g_set},
    {u"get", &g_get},
    {u"if", &g_if},
    {u"while", &g_while},
    {u"!", &g_not},
    {u"len", &g_len},
    {u"cmp", &g_cmp},
    {u"asciicmpi", &g_asciicmpi},
    {u"glob", &g_glob},
    {u"asciiglobi", &g_asciiglobi},
    {u"asciiupper", &g_asciiupper},
    {u"asciilower", &g_asciilower},
    {u"asciiupper1", &g_asciiupper1},
    {u"asciilower1", &g_asciilower1},
    {u"=", &g_eq},
    {u"!=", &g_ne},
    {u"<>", &g_ne},
    {u">", &g_gt},
    {u">=", &g_ge},
    {u"<", &g_lt},
    {u"<=", &g_le},
    {u"+", &g_add},
    {u"-", &g_sub},
    {u"*", &g_mul},
    {u"/", &g_div},
    {u"%", &g_rem},
    {u"&&", &g_and},
    {u"||", &g_or},
};

}  // namespace

size_t ScriptBuiltinCount() { return sizeof(kBuiltins) / sizeof(kBuiltins[0]); }
const ScriptBuiltin* ScriptBuiltins() { return kBuiltins; }

void ScriptAddBuiltins(ScriptInterpreter* interp) {
  for (const ScriptBuiltin& builtin : kBuiltins) interp->AddCommand(builtin.name, builtin.handler);
}

}  // namespace sm
