// Runs arbitrary text as an SCF script. Every built-in command is wrapped in
// a counting handler, so loops and recursion end once a budget of commands is
// spent (the wrapper then exits with -1, which unwinds every run); `set` also
// refuses huge values so that doubling a variable cannot exhaust memory. The
// interpreter itself runs unchanged.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "script/script.h"

namespace {

using sm::CommandHandler;
using sm::ScriptInterpreter;

constexpr int kCommandBudget = 5000;
constexpr size_t kMaxValue = 1024;

class NullHost final : public sm::ScriptHost {
 public:
  void Out(const char16_t*) override {}
  void Err(const char16_t*) override {}
};

class Counted final : public CommandHandler {
 public:
  Counted(CommandHandler* real, int* budget, bool is_set) : real_(real), budget_(budget), is_set_(is_set) {}
  void Execute(ScriptInterpreter* in) override {
    if (--*budget_ < 0 || (is_set_ && in->ArgLength(2) > kMaxValue)) {
      in->Exit(-1);
      return;
    }
    real_->Execute(in);
  }

 private:
  CommandHandler* real_;
  int* budget_;
  bool is_set_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A leading 0xFF byte selects UTF-16LE input; otherwise each byte is one unit.
  std::vector<char16_t> text;
  if (size > 0 && data[0] == 0xFF) {
    for (size_t i = 1; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
  } else {
    for (size_t i = 0; i < size; ++i) text.push_back(data[i]);
  }
  NullHost host;
  const char16_t* vars[] = {u"langid=ENU", u"empty", nullptr};
  ScriptInterpreter* in = sm::ScriptCreate(&host, vars);
  if (!in) return 0;
  int budget = kCommandBudget;
  std::vector<Counted> wrappers;
  wrappers.reserve(sm::ScriptBuiltinCount());
  for (size_t i = 0; i < sm::ScriptBuiltinCount(); ++i) {
    const sm::ScriptBuiltin& b = sm::ScriptBuiltins()[i];
    bool is_set = b.name[0] == u's' && b.name[1] == u'e' && b.name[2] == u't' && b.name[3] == 0;
    wrappers.emplace_back(b.handler, &budget, is_set);
    in->AddCommand(b.name, &wrappers.back());
  }
  in->Run(text.data(), text.size());
  // A second run on the same interpreter must start clean.
  in->Run(u"out ${+ 1 1}", sm::kWholeText);
  in->Free();
  return 0;
}
