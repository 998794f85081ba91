#include "script/script.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sm {
namespace {

// Collects what a script writes: output and errors, each piece as handed over.
class RecordingHost final : public ScriptHost {
 public:
  void Out(const char16_t* text) override {
    out += text;
    out_pieces.push_back(text);
  }
  void Err(const char16_t* text) override { err += text; }
  std::u16string out, err;
  std::vector<std::u16string> out_pieces;
};

struct Result {
  std::u16string out, err;
  int32_t code;
};

Result RunScript(const char16_t* script, const char16_t* const* variables = nullptr) {
  RecordingHost host;
  ScriptInterpreter* in = ScriptCreate(&host, variables);
  EXPECT_NE(in, nullptr);
  int32_t code = in->Run(script, kWholeText);
  in->Free();
  return {host.out, host.err, code};
}

std::string Narrow(const std::u16string& s) {
  std::string r;
  for (char16_t c : s) r += c < 0x80 ? static_cast<char>(c) : '?';
  return r;
}

struct Case {
  const char16_t* script;
  const char16_t* out;
  int32_t code;
  const char16_t* err;
};

void RunCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    Result r = RunScript(c.script);
    SCOPED_TRACE(Narrow(c.script));
    EXPECT_EQ(Narrow(r.out), Narrow(c.out));
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(Narrow(r.err), Narrow(c.err));
  }
}

constexpr char16_t kNone[] = u"";

TEST(ScriptEvaluator, WordsGroupsAndComments) {
  RunCases({
      {u"", kNone, 0, kNone},
      {u"  \t\r\n # only a comment\n\n", kNone, 0, kNone},
      {u";", kNone, 0, kNone},
      {u"\xFEFF out a", u"a", 0, kNone},
      {u"out a;# comment after a semicolon\nout b", u"ab", 0, kNone},
      {u"out a#b", u"a#b", 0, kNone},
      {u"out a # not a comment", u"a # not a comment", 0, kNone},
      {u"out a{b c}d", u"ab cd", 0, kNone},
      {u"out {a{b}c}", u"a{b}c", 0, kNone},
      {u"out {a $x ${out y}}", u"a $x ${out y}", 0, kNone},
      {u"out a   b", u"a b", 0, kNone},
      {u"out {a b}", u"a b", 0, kNone},
      {u"out \"a\\b\"", u"\"a\\b\"", 0, kNone},
      {u"out {line1\nline2}", u"line1\nline2", 0, kNone},
      {u"out $(out$)", u"{out}", 0, kNone},
      {u"out $-{\nab\ncd}", u"ab\ncd", 0, kNone},
      {u"out $-{\r\nab}", u"ab", 0, kNone},
      {u"out $-{ab}", u"-ab", 0, kNone},
      {u"out a $\n b", u"a b", 0, kNone},
      {u"out a $\r\n b", u"a b", 0, kNone},
      {u"out a$\nb", u"ab", 0, kNone},
      {u"out a$\r\nb", u"ab", 0, kNone},
      {u"out a$ b", u"a b", 0, kNone},
      {u"out a$", u"a", 0, kNone},
      {u"out $%x", u"%x", 0, kNone},
      {u"OUT mixed; Out case", u"mixedcase", 0, kNone},
  });
}

TEST(ScriptEvaluator, Substitutions) {
  RunCases({
      {u"set x 1; out $x$x pre$x ${out $x}${out $x}", u"11 pre1 11", 0, kNone},
      {u"set x 1; out [$x_y] [$xy] [$x.y]", u"[] [] [1.y]", 0, kNone},
      {u"set long_name_1 v; out $long_name_1", u"v", 0, kNone},
      {u"out [$unset]", u"[]", 0, kNone},
      {u"set n; out [$n]", u"[]", 0, kNone},
      {u"set X up; out $x", u"up", 0, kNone},
      {u"set c out; $c computed", u"computed", 0, kNone},
      {u"out ${out a; out b}c", u"abc", 0, kNone},
      {u"out ${out ${out deep}}", u"deep", 0, kNone},
      // The whole command is substituted before it runs.
      {u"set x 1; out $x ${set x 2} $x", u"1  2", 0, kNone},
      {u"out ${}", kNone, 0, kNone},
      {u"set x {a b}; out [$x]", u"[a b]", 0, kNone},
  });
}

TEST(ScriptEvaluator, ErrorsStopTheRun) {
  RunCases({
      {u"out a; nosuch x; out b", u"a", -1, u"ERROR SCF: Unknown command \"nosuch\".\n"},
      {u"out {a", kNone, -1, u"ERROR SCF: Unmatched open brace.\n"},
      {u"out ${out a", kNone, -1, u"ERROR SCF: Unmatched open brace.\n"},
      {u"out a}; out b", kNone, -1, u"ERROR SCF: Unmatched close brace.\n"},
      {u"}", kNone, -1, u"ERROR SCF: Unmatched close brace.\n"},
      {u"get a b", kNone, -1, u"ERROR SCF: Too many arguments specified for get command.\n"},
      {u"get", kNone, -1, u"ERROR SCF: Too few arguments specified for get command.\n"},
      {u"GET", kNone, -1, u"ERROR SCF: Too few arguments specified for GET command.\n"},
      {u"out ${nosuch}; out after", kNone, -1, u"ERROR SCF: Unknown command \"nosuch\".\n"},
      // Errors are never captured.
      {u"out [${err e}]", u"[]", 0, u"e"},
  });
}

TEST(ScriptEvaluator, Procedures) {
  RunCases({
      {u"set p {out $1}; p hello; p", u"hello", 0, kNone},
      {u"set p {out $0:$1:$2:$3}; p a b", u"p:a:b:", 0, kNone},
      {u"out [$0$1]", u"[]", 0, kNone},
      {u"set p {set inner 1; out $outer}; set outer o; p; out [$inner]", u"o[]", 0, kNone},
      {u"set v outer; set p {set v inner; out $v}; p; out $v", u"innerouter", 0, kNone},
      {u"set p {out a; exit 3; out b}; p; out c", u"a", 3, kNone},
      {u"set p {out a; exit 0; out b}; p; out c", u"ac", 0, kNone},
      {u"set p {exit 5}; out [${p}]", u"", 5, kNone},
      {u"set p {nosuch}; p; out after", kNone, -1, u"ERROR SCF: Unknown command \"nosuch\".\n"},
      {u"set p {out [$1]}; if 0 {} else p x", u"[x]", 0, kNone},
      {u"set p {out $10}; p 1 2 3 4 5 6 7 8 9 ten", u"ten", 0, kNone},
      {u"set p {out [$01]}; p one", u"[]", 0, kNone},
      {u"set p {get 1}; p word", u"word", 0, kNone},
      // A procedure writing inside a substitution writes into it.
      {u"set p {out in}; out [${p}]", u"[in]", 0, kNone},
      // An argument that is itself a script can be run by its number.
      {u"set p {1}; p {out run}", u"run", 0, kNone},
  });
}

TEST(ScriptEvaluator, RunawayRecursionEndsWithAnError) {
  Result r = RunScript(u"set p {p}; p; out after");
  EXPECT_EQ(r.code, -1);
  EXPECT_EQ(Narrow(r.err), "ERROR SCF: Nesting too deep.\n");
  EXPECT_EQ(r.out, u"");
  r = RunScript(u"set s {parse $s}; parse $s");
  EXPECT_EQ(r.code, -1);
  EXPECT_EQ(Narrow(r.err), "ERROR SCF: Nesting too deep.\n");
}

TEST(ScriptEvaluator, InitialVariablesAndHostInterface) {
  const char16_t* vars[] = {u"a=1", u"b=x=y", u"=c=2", u"novalue", nullptr};
  Result r = RunScript(u"out $a $b [$novalue]; get =c", vars);
  EXPECT_EQ(Narrow(r.out), "1 x=y []2");

  RecordingHost host;
  ScriptInterpreter* in = ScriptCreate(&host, nullptr);
  ASSERT_NE(in, nullptr);
  in->SetVar(u"langid", u"DEU");
  EXPECT_EQ(std::u16string(in->GetVar(u"LANGID")), u"DEU");
  EXPECT_EQ(in->Run(u"out $langid; set langid x", kWholeText), 0);
  // The script's own variable was dropped with its run.
  EXPECT_EQ(std::u16string(in->GetVar(u"langid")), u"DEU");
  EXPECT_EQ(in->Run(u"exit 2; out no", 6), 2);
  int32_t code = 9;
  EXPECT_FALSE(in->ExitState(&code));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(host.out, u"DEU");
  in->Free();

  // Without a host output and errors are dropped.
  in = ScriptCreate(nullptr, nullptr);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(in->Run(u"out a; err b; nosuch", kWholeText), -1);
  in->Free();
}

class Writer final : public CommandHandler {
 public:
  explicit Writer(const char16_t* text) : text_(text) {}
  void Execute(ScriptInterpreter* in) override { in->Out(text_); }

 private:
  const char16_t* text_;
};

// A host command that sees its words and registers a command while it runs.
class Probe final : public CommandHandler {
 public:
  void Execute(ScriptInterpreter* in) override {
    ++calls;
    words.clear();
    for (size_t i = 0; i < in->ArgCount(); ++i) words.emplace_back(in->ArgData(i), in->ArgLength(i));
    EXPECT_EQ(in->ArgText(in->ArgCount()), nullptr);
    EXPECT_EQ(in->ArgData(in->ArgCount()), nullptr);
    EXPECT_EQ(in->ArgLength(in->ArgCount()), 0u);
    in->AddCommand(u"temp", &temp);
    in->Eval(u"temp", 4);  // the temporary command exists during the call
  }
  int calls = 0;
  std::vector<std::u16string> words;
  Writer temp{u"P"};
};

TEST(ScriptEvaluator, HostCommands) {
  RecordingHost host;
  ScriptInterpreter* in = ScriptCreate(&host, nullptr);
  ASSERT_NE(in, nullptr);
  Probe probe;
  Writer host_temp(u"t");
  in->AddCommand(u"probe", &probe);
  in->AddCommand(u"temp", &host_temp);
  EXPECT_EQ(in->Run(u"probe a {b c} ${out d}", kWholeText), 0);
  EXPECT_EQ(probe.calls, 1);
  EXPECT_EQ(probe.words, (std::vector<std::u16string>{u"probe", u"a", u"b c", u"d"}));
  // The probe's own "temp" went away with it; the host's remains.
  EXPECT_EQ(in->Run(u"temp", kWholeText), 0);
  EXPECT_EQ(host.out, u"Pt");
  // A host command hides a built-in of the same name.
  in->AddCommand(u"OUT", &host_temp);
  EXPECT_EQ(in->Run(u"out x", kWholeText), 0);
  EXPECT_EQ(host.out, u"Ptt");
  in->Free();
}

// Formats through both channels and sets a variable from counted texts.
class Formatter final : public CommandHandler {
 public:
  void Execute(ScriptInterpreter* in) override {
    in->OutF(u"[%s:%i]", in->ArgText(1), 42);
    in->ErrF(u"<%s>", in->ArgText(1));
    in->SetVarN(u"named_xyz", 5, u"value_xyz", 5);
  }
};

TEST(ScriptEvaluator, FormattedOutputAndCountedVariables) {
  RecordingHost host;
  ScriptInterpreter* in = ScriptCreate(&host, nullptr);
  ASSERT_NE(in, nullptr);
  Formatter formatter;
  in->AddCommand(u"fmt", &formatter);
  EXPECT_EQ(in->Run(u"fmt a; out (${fmt b}); out $named", kWholeText), 0);
  EXPECT_EQ(host.out, u"[a:42]([b:42])value");
  EXPECT_EQ(host.err, u"<a><b>");
  in->Free();
}

TEST(ScriptEvaluator, OutputPiecesReachTheHost) {
  RecordingHost host;
  ScriptInterpreter* in = ScriptCreate(&host, nullptr);
  ASSERT_NE(in, nullptr);
  in->Run(u"out a b; out; asciiupper xy; out {}", kWholeText);
  EXPECT_EQ(host.out_pieces, (std::vector<std::u16string>{u"a b", u"X", u"Y", u""}));
  in->Free();
}

TEST(ScriptBuiltins, OutputAndVariables) {
  RunCases({
      {u"out", kNone, 0, kNone},
      {u"out a; out b", u"ab", 0, kNone},
      {u"err a   b", kNone, 0, u"a b"},
      {u"err", kNone, 0, kNone},
      {u"parse {out a; out b}", u"ab", 0, kNone},
      {u"parse {set x 1}; out $x", u"1", 0, kNone},
      {u"parse", kNone, -1, u"ERROR SCF: Too few arguments specified for parse command.\n"},
      {u"set", kNone, -1, u"ERROR SCF: Too few arguments specified for set command.\n"},
      {u"set a b c", kNone, -1, u"ERROR SCF: Too many arguments specified for set command.\n"},
      {u"set x 1; set x 2; out $x", u"2", 0, kNone},
      {u"set x; x", kNone, -1, u"ERROR SCF: Unknown command \"x\".\n"},
      {u"set x v; get x; get nosuch", u"v", 0, kNone},
      {u"exit 7; out no", kNone, 7, kNone},
      {u"exit", kNone, 0, kNone},
      {u"exit abc", kNone, 0, kNone},
      {u"exit -2", kNone, -2, kNone},
      {u"exit 0x100000005", kNone, 5, kNone},
      {u"exit 1 2; out no", kNone, 0, u"ERROR SCF: Too many arguments specified for exit command.\n"},
  });
}

TEST(ScriptBuiltins, IfAndWhile) {
  RunCases({
      {u"if 0 {out a}", kNone, 0, kNone},
      {u"if 1 {out a}", u"a", 0, kNone},
      {u"if yes {out a} else {out b}", u"a", 0, kNone},
      {u"if 0 {out a} else {out b}", u"b", 0, kNone},
      {u"if 0 {out a} ELSE {out b}", u"b", 0, kNone},
      {u"if 1 {out a} whatever follows", u"a", 0, kNone},
      {u"if 0 {out a} els {out b}", kNone, -1, u"ERROR SCF: Expecting \"else\" but found \"els\".\n"},
      {u"if 0 {out a} else", kNone, -1, u"ERROR SCF: Missing else body.\n"},
      {u"if 0 {out a} else out text", u"text", 0, kNone},
      {u"if 0 {out a} else if 1 {out b} else {out c}", u"b", 0, kNone},
      {u"if 0 {out a} else if 0 {out b} else {out c}", u"c", 0, kNone},
      {u"if 0 {out a} else if 0 {out b}; out d", u"d", 0, kNone},
      {u"if 0 {} else if 0 {} else if 0 {} else if 1 {out 4}", u"4", 0, kNone},
      {u"if 0 {} else nosuch", kNone, -1, u"ERROR SCF: Unknown command \"nosuch\".\n"},
      {u"if 1", kNone, -1, u"ERROR SCF: Too few arguments specified for if command.\n"},
      {u"if 1 {if 0 {out a} else out b}; out c", u"bc", 0, kNone},
      {u"set i 0; while {< $i 3} {set i ${+ $i 1}}; out $i", u"3", 0, kNone},
      {u"set i 0; while {< $i 3} {out $i; set i ${+ $i 1}}", u"012", 0, kNone},
      {u"while {out 0} {out never}", kNone, 0, kNone},
      {u"while {out 1} {out once; exit 4}; out no", u"once", 4, kNone},
      {u"while {out 1} {nosuch}", kNone, -1, u"ERROR SCF: Unknown command \"nosuch\".\n"},
      {u"while {1}", kNone, -1, u"ERROR SCF: Too few arguments specified for while command.\n"},
      // The condition's output is captured, never shown.
      {u"set i 0; while {out ${< $i 2}} {set i ${+ $i 1}}; out $i", u"2", 0, kNone},
  });
}

TEST(ScriptBuiltins, TextCommands) {
  RunCases({
      {u"out ${len h\u00E9llo}", u"5", 0, kNone},
      {u"out ${len {}}", u"0", 0, kNone},
      {u"out ${cmp a B} ${cmp a a} ${cmp a b} ${cmp ab a}", u"1 0 -1 1", 0, kNone},
      {u"out ${asciicmpi a B} ${asciicmpi ABC abc}", u"-1 0", 0, kNone},
      {u"out ${glob *.TXT a.txt} ${glob *.txt a.txt} ${glob a?c ac}", u"0 1 0", 0, kNone},
      {u"out ${asciiglobi *.TXT a.txt}", u"1", 0, kNone},
      {u"out ${asciiupper hello1} ${asciilower \u00C0B}", u"HELLO1 \u00C0b", 0, kNone},
      {u"out ${asciiupper1 hello}${asciilower1 WORLD}", u"HellowORLD", 0, kNone},
      {u"out [${asciiupper1 {}}]", u"[]", 0, kNone},
      {u"len", kNone, -1, u"ERROR SCF: Too few arguments specified for len command.\n"},
      {u"cmp a", kNone, -1, u"ERROR SCF: Too few arguments specified for cmp command.\n"},
      {u"glob a b c", kNone, -1, u"ERROR SCF: Too many arguments specified for glob command.\n"},
      {u"asciiupper", kNone, -1, u"ERROR SCF: Too few arguments specified for asciiupper command.\n"},
  });
}

TEST(ScriptBuiltins, Operators) {
  RunCases({
      {u"out ${+ 2 3} ${- 2 3} ${* 0x10 2} ${/ -7 2} ${% -7 2} ${% 7 -2}", u"5 -1 32 -3 -1 1", 0, kNone},
      {u"out ${= yes 1} ${&& on 0} ${|| off 2} ${! abc} ${! 1}", u"1 0 1 1 0", 0, kNone},
      {u"out ${= 1 2} ${!= 1 2} ${<> 2 2} ${> 3 2} ${>= 2 2} ${< -1 0} ${<= 3 2}", u"0 1 0 1 1 1 0", 0,
       kNone},
      {u"out ${+ 12abc 0} ${+ abc 1}", u"12 1", 0, kNone},
      {u"out ${+ 9223372036854775807 1}", u"-9223372036854775808", 0, kNone},
      {u"out ${* 0x100000000 0x100000000}", u"0", 0, kNone},
      // No trap on the two divisions a machine cannot do.
      {u"out ${/ 5 0} ${% 5 0} ${% -5 0}", u"0 5 -5", 0, kNone},
      {u"out ${/ -9223372036854775808 -1} ${% -9223372036854775808 -1}", u"-9223372036854775808 0", 0,
       kNone},
      {u"+ 1", kNone, -1, u"ERROR SCF: Too few arguments specified for + command.\n"},
      {u"= 1 2 3", kNone, -1, u"ERROR SCF: Too many arguments specified for = command.\n"},
      {u"!", kNone, -1, u"ERROR SCF: Too few arguments specified for ! command.\n"},
  });
}

TEST(ScriptBuiltins, RegistrationOrder) {
  const char16_t* expected[] = {u"exit", u"out", u"err", u"parse", u"set", u"get", u"if", u"while",
                                u"!", u"len", u"cmp", u"asciicmpi", u"glob", u"asciiglobi",
                                u"asciiupper", u"asciilower", u"asciiupper1", u"asciilower1", u"=",
                                u"!=", u"<>", u">", u">=", u"<", u"<=", u"+", u"-", u"*", u"/", u"%",
                                u"&&", u"||"};
  ASSERT_EQ(ScriptBuiltinCount(), sizeof(expected) / sizeof(expected[0]));
  for (size_t i = 0; i < ScriptBuiltinCount(); ++i)
    EXPECT_EQ(std::u16string(ScriptBuiltins()[i].name), expected[i]);
  // != and <> are one handler.
  EXPECT_EQ(ScriptBuiltins()[19].handler, ScriptBuiltins()[20].handler);
}

}  // namespace
}  // namespace sm
