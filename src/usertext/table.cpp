// The process-wide user text table: an ordered tree of entries keyed by
// identifier (ASCII case-insensitive), expansion of arguments and references,
// and loading of user text data through the script interpreter.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/format.h"
#include "base/pool.h"
#include "base/text.h"
#include "base/tree.h"
#include "base/utf.h"
#include "base/value.h"
#include "script/script.h"
#include "usertext/platform.h"
#include "usertext/usertext.h"

namespace sm {
namespace {

constexpr char16_t kUserTextError[] = u"usertext_error";
constexpr char16_t kMissingArg[] = u"missing_arg";
constexpr char16_t kEmpty[] = u"";
// References are expanded down to this depth; deeper ones show their text.
constexpr int kMaxReferenceDepth = 6;
constexpr size_t kLocalUnits = 100;

// One heap block: the tree links, the identifier and the text, each with its
// terminator.
struct Entry {
  TreeNode node;
  char16_t* Id() { return reinterpret_cast<char16_t*>(this + 1); }
  const char16_t* Text() {
    const char16_t* id = Id();
    return id + TextLen(id) + 1;
  }
};

struct Key {
  const char16_t* id;
  size_t length;
};

int CompareKey(const void* context, const TreeNode* node) {
  const Key* key = static_cast<const Key*>(context);
  auto* entry = reinterpret_cast<Entry*>(const_cast<TreeNode*>(node));
  return TextCompareAscii(key->id, key->length, entry->Id(), kWholeText);
}

class UserTextTable;

// The script command `text`: text identifier [words...].
class TextCommand final : public CommandHandler {
 public:
  explicit TextCommand(UserTextTable* table) : table_(table) {}
  void Execute(ScriptInterpreter* in) override;

 private:
  UserTextTable* table_;
};

class UserTextTable final : public ScriptHost {
 public:
  UserTextTable() : text_handler(this) {}

  // Script output and errors during a load go to the load stream.
  void Out(const char16_t* text) override { TextStreamPrint(load_stream, text); }
  void Err(const char16_t* text) override {
    ++load_errors;
    TextStreamPrint(load_stream, text);
  }

  void Add(const char16_t* id, const char16_t* text);
  Entry* Find(const char16_t* id, size_t length) {
    Key key{id, length};
    return reinterpret_cast<Entry*>(TreeFind(entries, CompareKey, &key));
  }
  size_t Expand(const char16_t* id, size_t id_length, size_t count, const char16_t* const* args,
                char16_t* out, size_t capacity, int* depth, const char16_t** no_copy);
  void FreeEntries() {
    while (entries) {
      TreeNode* node = entries;
      TreeRemove(&entries, node);
      free(node);
    }
  }

  TreeNode* entries = nullptr;
  int32_t test_mode = 0;
  TextStream* load_stream = nullptr;
  uint32_t load_errors = 0;
  TextCommand text_handler;
};

// Absent until first use; a failed creation is not retried.
UserTextTable* g_table = nullptr;
bool g_table_tried = false;

UserTextTable* Table() {
  if (g_table_tried) return g_table;
  g_table_tried = true;
  void* memory = ::operator new(sizeof(UserTextTable), std::nothrow);
  if (!memory) return nullptr;
  auto* table = new (memory) UserTextTable();
  if (char16_t* mode = UserTextReadEnvironment(u"DRAVIK_USERTEXTTESTMODE")) {
    table->test_mode = static_cast<int32_t>(static_cast<uint32_t>(ParseValue(mode, kWholeText, nullptr)));
    free(mode);
  }
  g_table = table;
  static bool exit_routine = false;
  if (!exit_routine) {
    exit_routine = true;
    atexit(UserTextTableFree);
  }
  return table;
}

void UserTextTable::Add(const char16_t* id, const char16_t* text) {
  char16_t* labelled = nullptr;
  if (test_mode) {
    // A translator sees which entry is shown where.
    labelled = HeapFormat(u"(%s) %s", id, text);
    if (labelled) text = labelled;
  }
  size_t id_length = TextLen(id);
  size_t text_length = TextLen(text);
  auto* entry = static_cast<Entry*>(
      malloc(sizeof(Entry) + (id_length + 1 + text_length + 1) * sizeof(char16_t)));
  if (entry) {
    char16_t* units = entry->Id();
    memcpy(units, id, id_length * sizeof(char16_t));
    units[id_length] = 0;
    memcpy(units + id_length + 1, text, text_length * sizeof(char16_t));
    units[id_length + 1 + text_length] = 0;
    // The new entry goes before any old one of the same identifier, which
    // then leaves: exactly one entry remains, spelled the new way.
    Key key{id, id_length};
    TreeNode* slot = nullptr;
    TreeNode* old = TreeFindSlot(entries, CompareKey, &key, &slot);
    TreeInsertAfter(&entries, slot, &entry->node);
    if (old) {
      TreeRemove(&entries, old);
      free(old);
    }
  }
  free(labelled);
}

// Expands the template of `id` into `out` (up to `capacity` units stored,
// always terminated when capacity > 0) and returns the units of the whole
// result. `no_copy` receives a text that can stand for the result as it is.
size_t UserTextTable::Expand(const char16_t* id, size_t id_length, size_t count,
                             const char16_t* const* args, char16_t* out, size_t capacity, int* depth,
                             const char16_t** no_copy) {
  ++*depth;
  const char16_t* tmpl = id;
  size_t tmpl_length = id_length;
  if (Entry* entry = Find(id, id_length)) {
    tmpl = entry->Text();
    tmpl_length = TextLen(tmpl);
  }

  size_t n = 0;
  auto put = [&](const char16_t* text, size_t length) {
    for (size_t i = 0; i < length; ++i, ++n) {
      if (n < capacity) out[n] = text[i];
    }
  };
  auto put_template = [&](const char16_t* ref, size_t ref_length) {
    if (Entry* entry = Find(ref, ref_length)) put(entry->Text(), TextLen(entry->Text()));
    else put(ref, ref_length);
  };

  bool has_percent = false;
  for (size_t i = 0; i < tmpl_length; ++i) {
    char16_t c = tmpl[i];
    if (c != u'%') {
      put(&c, 1);
      continue;
    }
    has_percent = true;
    if (++i >= tmpl_length) break;  // a '%' at the very end is dropped
    c = tmpl[i];
    if (c >= u'1' && c <= u'9') {
      size_t number = static_cast<size_t>(c - u'0');
      const char16_t* arg = number <= count && args ? args[number - 1] : nullptr;
      if (arg) put(arg, TextLen(arg));
      else put_template(kMissingArg, TextLen(kMissingArg));
    } else if (c == u'(') {
      size_t start = i + 1;
      size_t end = start;
      while (end < tmpl_length && tmpl[end] != u')') ++end;
      i = end;  // the ')' is consumed by the loop
      if (*depth < kMaxReferenceDepth) {
        size_t measured = Expand(tmpl + start, end - start, count, args, nullptr, 0, depth, nullptr);
        auto* buffer = static_cast<char16_t*>(malloc((measured + 1) * sizeof(char16_t)));
        if (buffer) {
          Expand(tmpl + start, end - start, count, args, buffer, measured + 1, depth, nullptr);
          put(buffer, measured);
          free(buffer);
        } else {
          put(kUserTextError, TextLen(kUserTextError));
        }
      } else {
        put_template(tmpl + start, end - start);
      }
    } else {
      put(&c, 1);  // "%%" gives '%', "%x" gives 'x'
    }
  }

  if (capacity > 0) out[n < capacity ? n : capacity - 1] = 0;
  if (no_copy) {
    if (!has_percent) *no_copy = tmpl;
    else if (n == 0) *no_copy = kEmpty;
  }
  --*depth;
  return n;
}

void TextCommand::Execute(ScriptInterpreter* in) {
  if (!in->CheckArgs(2, static_cast<size_t>(-1))) return;
  size_t count = in->ArgCount();
  const char16_t* id = in->ArgText(1);
  if (count <= 3) {
    table_->Add(id, count == 3 ? in->ArgText(2) : kEmpty);
    return;
  }
  size_t total = 0;
  for (size_t i = 2; i < count; ++i) total += in->ArgLength(i) + 1;
  auto* joined = static_cast<char16_t*>(malloc(total * sizeof(char16_t)));
  if (!joined) return;
  size_t n = 0;
  for (size_t i = 2; i < count; ++i) {
    if (i > 2) joined[n++] = u' ';
    memcpy(joined + n, in->ArgData(i), in->ArgLength(i) * sizeof(char16_t));
    n += in->ArgLength(i);
  }
  joined[n] = 0;
  table_->Add(id, joined);
  free(joined);
}

const char16_t* Format(ScratchPool* pool, const char16_t* id, size_t count, const char16_t* const* args) {
  UserTextTable* table = Table();
  if (!table) return kUserTextError;
  char16_t local[kLocalUnits];
  int depth = 0;
  const char16_t* no_copy = nullptr;
  size_t id_length = TextLen(id);
  size_t n = table->Expand(id, id_length, count, args, local, kLocalUnits, &depth, &no_copy);
  if (no_copy) return no_copy;
  if (n < kLocalUnits) return PoolDup(pool, local, n);
  auto* block = static_cast<char16_t*>(pool->Alloc((n + 1) * sizeof(char16_t)));
  if (!block) return kUserTextError;
  table->Expand(id, id_length, count, args, block, n + 1, &depth, nullptr);
  return block;
}

std::atomic<char16_t*> g_language{nullptr};

}  // namespace

const char16_t* UserTextRegister(const char16_t* id, const char* default_text) {
  UserTextTable* table = Table();
  if (!table) return id;
  char16_t local[50];
  size_t needed = Utf8ToWide(local, 50, default_text, static_cast<size_t>(-1));
  if (needed < 50) {
    table->Add(id, local);
    return id;
  }
  auto* wide = static_cast<char16_t*>(malloc((needed + 1) * sizeof(char16_t)));
  if (wide) {
    Utf8ToWide(wide, needed + 1, default_text, static_cast<size_t>(-1));
    table->Add(id, wide);
    free(wide);
  }
  return id;
}

const char16_t* UserTextSet(const char16_t* id, const char16_t* text) {
  if (UserTextTable* table = Table()) table->Add(id, text);
  return id;
}

const char16_t* UserTextGet(ScratchPool* pool, const char16_t* id) { return Format(pool, id, 0, nullptr); }

const char16_t* UserTextFormat(ScratchPool* pool, const char16_t* id, size_t count, const char16_t* const* args) {
  return Format(pool, id, count, args);
}

const char16_t* UserTextFormat(ScratchPool* pool, const char16_t* id, const char16_t* arg1) {
  const char16_t* args[] = {arg1};
  return Format(pool, id, 1, args);
}

const char16_t* UserTextFormat(ScratchPool* pool, const char16_t* id, const char16_t* arg1,
                               const char16_t* arg2) {
  const char16_t* args[] = {arg1, arg2};
  return Format(pool, id, 2, args);
}

uint32_t UserTextAddData(TextStream* stream, const char16_t* language, const char* data, size_t length) {
  UserTextTable* table = Table();
  if (!table) return 0;
  char16_t* script = HeapDupUtf8(data, length);
  if (!script) return 0;
  ScriptInterpreter* in = ScriptCreate(table, nullptr);
  if (!in) {
    free(script);
    return 0;
  }
  TextStream* saved = table->load_stream;
  table->load_stream = stream;
  table->load_errors = 0;
  in->SetVar(u"langid", language);
  in->AddCommand(u"text", &table->text_handler);
  in->Run(script, kWholeText);
  in->Free();
  free(script);
  table->load_stream = saved;
  return table->load_errors;
}

const char16_t* UserTextLanguage() {
  if (char16_t* published = g_language.load(std::memory_order_acquire)) return published;
  char16_t* code = UserTextReadLanguage();
  if (!code) {
    code = static_cast<char16_t*>(malloc(4 * sizeof(char16_t)));
    if (!code) return u"ENU";
    memcpy(code, u"ENU", 4 * sizeof(char16_t));
  }
  char16_t* expected = nullptr;
  if (!g_language.compare_exchange_strong(expected, code, std::memory_order_acq_rel)) {
    free(code);  // another thread published first
    return expected;
  }
  static std::atomic<bool> exit_routine{false};
  if (!exit_routine.exchange(true)) atexit(UserTextLanguageFree);
  return code;
}

void UserTextLanguageFree() { free(g_language.exchange(nullptr)); }

size_t UserTextEntryCount() {
  size_t count = 0;
  if (g_table) {
    for (TreeNode* node = TreeNext(g_table->entries, nullptr); node; node = TreeNext(g_table->entries, node))
      ++count;
  }
  return count;
}

const char16_t* UserTextStoredId(const char16_t* id) {
  Entry* entry = g_table ? g_table->Find(id, TextLen(id)) : nullptr;
  return entry ? entry->Id() : nullptr;
}

void UserTextTableFree() {
  UserTextTable* table = g_table;
  g_table = nullptr;
  g_table_tried = false;
  if (!table) return;
  table->FreeEntries();
  table->~UserTextTable();
  ::operator delete(table, std::nothrow);
}

}  // namespace sm
