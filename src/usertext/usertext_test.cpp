#include "usertext/usertext.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "base/pool.h"
#include "usertext/example_data.h"
#include "usertext/platform.h"
#include "usertext/test_env.h"

namespace sm {
namespace {

std::string Narrow(const char16_t* s) {
  std::string r;
  for (; s && *s; ++s) r += *s < 0x80 ? static_cast<char>(*s) : '?';
  return r;
}

// Records every Write as (text, newline).
class RecordingStream final : public TextStream {
 public:
  void Write(const char16_t* text, size_t length, bool newline) override {
    writes.emplace_back(std::u16string(text, length), newline);
  }
  std::vector<std::pair<std::u16string, bool>> writes;
};

// Every test starts from an empty table without test mode.
class UserText : public testing::Test {
 protected:
  void SetUp() override {
    test::SetEnvironment("DRAVIK_USERTEXTTESTMODE", nullptr);
    UserTextTableFree();
  }
  void TearDown() override {
    pool_.ReleaseAll();
    test::SetEnvironment("DRAVIK_USERTEXTTESTMODE", nullptr);
    UserTextTableFree();
  }
  ScratchPool pool_;
};

TEST_F(UserText, RegisterAndGet) {
  static const char16_t* const id = UserTextRegister(u"error_corrupt_title", "Media Corrupt or Incomplete");
  EXPECT_EQ(std::u16string(id), u"error_corrupt_title");
  const char16_t* text = UserTextGet(&pool_, id);
  EXPECT_EQ(Narrow(text), "Media Corrupt or Incomplete");
  // Without a '%' the stored text itself is the result.
  EXPECT_EQ(UserTextGet(&pool_, u"ERROR_CORRUPT_TITLE"), text);
  // An unknown identifier stands for itself.
  const char16_t* unknown = u"no_such_id";
  EXPECT_EQ(UserTextGet(&pool_, unknown), unknown);
  // Long UTF-8 defaults convert whole.
  std::string long_default = "caf\xC3\xA9 " + std::string(80, 'x');
  UserTextRegister(u"long", long_default.c_str());
  std::u16string expected = u"caf\u00E9 " + std::u16string(80, u'x');
  EXPECT_EQ(std::u16string(UserTextGet(&pool_, u"long")), expected);
}

TEST_F(UserText, ReplacingKeepsOneEntryWithTheNewSpelling) {
  UserTextRegister(u"error_corrupt_title", "old");
  UserTextRegister(u"another", "x");
  UserTextSet(u"ERROR_Corrupt_TITLE", u"new");
  EXPECT_EQ(UserTextEntryCount(), 2u);
  EXPECT_EQ(std::u16string(UserTextStoredId(u"error_corrupt_title")), u"ERROR_Corrupt_TITLE");
  EXPECT_EQ(Narrow(UserTextGet(&pool_, u"error_corrupt_title")), "new");
  // Order stays consistent after many replacements.
  for (int i = 0; i < 50; ++i) UserTextSet(i % 2 ? u"A" : u"a", i % 2 ? u"odd" : u"even");
  EXPECT_EQ(UserTextEntryCount(), 3u);
  EXPECT_EQ(Narrow(UserTextGet(&pool_, u"a")), "odd");
}

TEST_F(UserText, Expansion) {
  UserTextRegister(u"error_extracting_media",
                   "Unable to extract contents of \"%1\" to \"%2\".\nCheck permissions and available free space.\n");
  UserTextSet(u"digits", u"%0 %x 100%% end%");
  UserTextSet(u"self", u"%(self)");
  UserTextSet(u"ref_unknown", u"[%(unknown_id)]");
  UserTextSet(u"unclosed", u"[%(inner");
  UserTextSet(u"inner", u"<%1>");
  UserTextSet(u"outer", u"x%(INNER)y%(inner)");
  UserTextSet(u"args", u"%2-%1-%3");
  UserTextSet(u"percent_only", u"%");
  for (int i = 1; i <= 8; ++i) {
    std::u16string id = u"chain" + std::u16string(1, static_cast<char16_t>(u'0' + i));
    std::u16string next = u"%(chain" + std::u16string(1, static_cast<char16_t>(u'1' + i)) + u")";
    UserTextSet(id.c_str(), i == 8 ? u"end" : next.c_str());
  }
  struct Case {
    const char16_t* id;
    std::vector<const char16_t*> args;
    const char* expected;
  } cases[] = {
      {u"error_extracting_media", {u"C:\\a.exe"},
       "Unable to extract contents of \"C:\\a.exe\" to \"missing_arg\".\nCheck permissions and available free "
       "space.\n"},
      {u"digits", {}, "0 x 100% end"},
      {u"self", {}, "%(self)"},
      {u"ref_unknown", {}, "[unknown_id]"},
      {u"unclosed", {u"a"}, "[<a>"},
      {u"outer", {u"q"}, "x<q>y<q>"},
      {u"args", {u"one", nullptr}, "missing_arg-one-missing_arg"},
      // Six levels are expanded; the seventh shows its stored text.
      {u"chain1", {}, "%(chain8)"},
      {u"chain3", {}, "end"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.id));
    EXPECT_EQ(Narrow(UserTextFormat(&pool_, c.id, c.args.size(), c.args.data())), c.expected);
  }
  EXPECT_EQ(Narrow(UserTextFormat(&pool_, u"args", u"1", u"2")), "2-1-missing_arg");
  EXPECT_EQ(Narrow(UserTextFormat(&pool_, u"inner", u"only")), "<only>");
  // An empty result is a static empty text, not a pool block.
  const char16_t* empty = UserTextGet(&pool_, u"percent_only");
  EXPECT_EQ(empty, UserTextGet(&pool_, u"percent_only"));
  EXPECT_EQ(empty[0], 0);
  // missing_arg is itself an entry that data may translate.
  UserTextSet(u"missing_arg", u"?");
  EXPECT_EQ(Narrow(UserTextFormat(&pool_, u"args", u"1", u"2")), "2-1-?");
}

TEST_F(UserText, ResultsAroundTheLocalBufferSize) {
  for (size_t units : {98u, 99u, 100u, 101u, 250u}) {
    // "x%%aaa..." expands to "x%aaa...": units long, never the stored text.
    std::u16string tmpl(units + 1, u'a');
    tmpl.replace(0, 3, u"x%%");
    UserTextSet(u"sized", tmpl.c_str());
    const char16_t* text = UserTextGet(&pool_, u"sized");
    std::u16string expected(units, u'a');
    expected.replace(0, 2, u"x%");
    EXPECT_EQ(std::u16string(text), expected) << units;
  }
  // A reference that makes the result long is expanded into the pool block.
  UserTextSet(u"long", std::u16string(150, u'b').c_str());
  UserTextSet(u"wrap", u"[%(long)]");
  std::u16string wrapped(152, u'b');
  wrapped.front() = u'[';
  wrapped.back() = u']';
  EXPECT_EQ(std::u16string(UserTextGet(&pool_, u"wrap")), wrapped);
}

TEST_F(UserText, TestModeFromTheEnvironment) {
  struct Case {
    const char* value;
    bool on;
  } cases[] = {{"1", true},   {"yes", true}, {"TRUE", true}, {"on", true},  {"enable", true},
               {nullptr, false}, {"0", false}, {"no", false},  {"off", false}, {"junk", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "(unset)");
    test::SetEnvironment("DRAVIK_USERTEXTTESTMODE", c.value);
    UserTextTableFree();
    UserTextRegister(u"error_corrupt_title", "Media Corrupt or Incomplete");
    EXPECT_EQ(Narrow(UserTextGet(&pool_, u"error_corrupt_title")),
              c.on ? "(error_corrupt_title) Media Corrupt or Incomplete" : "Media Corrupt or Incomplete");
  }
  // Test mode labels loaded data too, and lookups stay plain.
  test::SetEnvironment("DRAVIK_USERTEXTTESTMODE", "1");
  UserTextTableFree();
  const char data[] = "text greeting Hallo";
  EXPECT_EQ(UserTextAddData(nullptr, u"DEU", data, sizeof(data) - 1), 0u);
  EXPECT_EQ(Narrow(UserTextGet(&pool_, u"greeting")), "(greeting) Hallo");
  EXPECT_EQ(Narrow(UserTextGet(&pool_, u"unknown")), "unknown");
}

TEST_F(UserText, LoadingData) {
  UserTextRegister(u"kept", "default");
  const char data[] =
      "# user text data\n"
      "text a {A text}\n"
      "text b a b   c\n"
      "text e\n"
      "text lang $langid\n"
      "text u h\xC3\xA9\n"
      "if ${= 1 1} {text c yes}\n"
      "out hello\n"
      "err oops$(\n"
      "out {two\r\nlines\n}\n"
      "text\n"
      "text never reached\n";
  RecordingStream stream;
  EXPECT_EQ(UserTextAddData(&stream, u"DEU", data, sizeof(data) - 1), 2u);
  EXPECT_EQ(Narrow(UserTextGet(&pool_, u"a")), "A text");
  EXPECT_EQ(Narrow(UserTextGet(&pool_, u"b")), "a b c");
  EXPECT_EQ(Narrow(UserTextGet(&pool_, u"e")), "");
  EXPECT_EQ(Narrow(UserTextGet(&pool_, u"lang")), "DEU");
  EXPECT_EQ(std::u16string(UserTextGet(&pool_, u"u")), u"h\u00E9");
  EXPECT_EQ(Narrow(UserTextGet(&pool_, u"c")), "yes");
  EXPECT_EQ(Narrow(UserTextGet(&pool_, u"kept")), "default");
  EXPECT_EQ(Narrow(UserTextGet(&pool_, u"never")), "never");
  std::vector<std::pair<std::u16string, bool>> expected = {
      {u"hello", false},
      {u"oops{", false},
      {u"two", true},
      {u"lines", true},
      {u"ERROR SCF: Too few arguments specified for text command.", true},
  };
  EXPECT_EQ(stream.writes, expected);

  // The data ends at its length or at its first NUL; a null stream writes
  // nothing and still counts.
  const char cut[] = "text x 1\0text y 2";
  EXPECT_EQ(UserTextAddData(nullptr, u"ENU", cut, sizeof(cut) - 1), 0u);
  EXPECT_EQ(Narrow(UserTextGet(&pool_, u"x")), "1");
  EXPECT_EQ(Narrow(UserTextGet(&pool_, u"y")), "y");
  EXPECT_EQ(UserTextAddData(nullptr, u"ENU", "text z 12345", 8), 0u);
  EXPECT_EQ(Narrow(UserTextGet(&pool_, u"z")), "1");
  EXPECT_EQ(UserTextAddData(nullptr, u"ENU", "nosuch; text w 1", 16), 1u);
  EXPECT_EQ(Narrow(UserTextGet(&pool_, u"w")), "w");
  EXPECT_EQ(UserTextAddData(nullptr, u"ENU", "", 0), 0u);
}

// The launcher's identifiers and their English defaults.
struct LauncherText {
  const char16_t* id;
  const char* english;
};
const LauncherText kLauncherTexts[] = {
    {u"error_administrator_required", "This program must be run by an administrator.\n"},
    {u"error_corrupt_or_incomplete_media",
     "The file \"%1\" is incomplete, corrupt, or missing additional part files.\n"},
    {u"error_corrupt_title", "Media Corrupt or Incomplete"},
    {u"error_extracting_media",
     "Unable to extract contents of \"%1\" to \"%2\".\nCheck permissions and available free space.\n"},
    {u"error_extracting_title", "Extraction Failed"},
    {u"error_embedded_command_failed", "ERROR: %2 Unable to execute command \"%1\"."},
    {u"verify_title", "Verifying Media"},
    {u"verify_skip_button", "Skip"},
    {u"verify_elapsed_time", "Elapsed time:"},
    {u"locale_decimal", "."},
    {u"locale_neg_format", "-%1"},
    {u"locale_thous_grouping", "3;0"},
    {u"locale_thous_sep", ","},
    {u"locale_time_sep", ":"},
};

TEST_F(UserText, GermanExampleData) {
  for (const LauncherText& t : kLauncherTexts) UserTextRegister(t.id, t.english);
  // Other languages keep the English texts.
  EXPECT_EQ(UserTextAddData(nullptr, u"ENU", kGermanUserTextData, sizeof(kGermanUserTextData) - 1), 0u);
  EXPECT_EQ(Narrow(UserTextGet(&pool_, u"error_corrupt_title")), "Media Corrupt or Incomplete");

  RecordingStream stream;
  EXPECT_EQ(UserTextAddData(&stream, u"DES", kGermanUserTextData, sizeof(kGermanUserTextData) - 1), 0u);
  EXPECT_TRUE(stream.writes.empty());
  EXPECT_EQ(UserTextEntryCount(), sizeof(kLauncherTexts) / sizeof(kLauncherTexts[0]));
  const char16_t* translated_alike[] = {u"locale_neg_format", u"locale_thous_grouping", u"locale_time_sep"};
  for (const LauncherText& t : kLauncherTexts) {
    bool alike = false;
    for (const char16_t* id : translated_alike) alike = alike || std::u16string(id) == t.id;
    if (!alike) {
      EXPECT_NE(Narrow(UserTextGet(&pool_, t.id)), t.english) << Narrow(t.id);
    }
  }
  EXPECT_EQ(std::u16string(UserTextFormat(&pool_, u"error_extracting_media", u"a.exe", u"C:\\t")),
            u"Der Inhalt von \"a.exe\" kann nicht nach \"C:\\t\" entpackt werden.\n"
            u"Bitte pr\u00FCfen Sie die Berechtigungen und den freien Speicherplatz.\n");
  EXPECT_EQ(Narrow(UserTextGet(&pool_, u"locale_thous_grouping")), "3;0");
  EXPECT_EQ(Narrow(UserTextGet(&pool_, u"locale_thous_sep")), ".");
}

TEST(TextStreamPrint, SplitsLines) {
  struct Case {
    const char16_t* text;
    std::vector<std::pair<std::u16string, bool>> writes;
  } cases[] = {
      {u"", {{u"", false}}},
      {u"abc", {{u"abc", false}}},
      {u"line\r\n", {{u"line", true}}},
      {u"a\nb", {{u"a", true}, {u"b", false}}},
      {u"a\n\nb\n", {{u"a", true}, {u"", true}, {u"b", true}}},
      {u"a\r\r\nb\rc", {{u"a\r", true}, {u"b\rc", false}}},
      {u"\n", {{u"", true}}},
  };
  for (const Case& c : cases) {
    RecordingStream stream;
    TextStreamPrint(&stream, c.text);
    EXPECT_EQ(stream.writes, c.writes) << Narrow(c.text);
  }
  RecordingStream stream;
  TextStreamPrint(&stream, nullptr);
  EXPECT_EQ(stream.writes.size(), 1u);
  TextStreamPrint(nullptr, u"nothing happens");
  TextStreamPrint(NullStream(), u"discarded\n");
}

TEST(TextStreamPrint, StandardOutputInTheSystemCodePage) {
  std::string bytes = test::CaptureStdout([] { TextStreamPrint(StdOutStream(), u"caf\u00E9\nx\r\n\u4E00"); });
  EXPECT_EQ(bytes, "caf\xE9\r\nx\r\n\x7F");
  // Lines around the 200-byte local buffer are written whole.
  for (size_t n : {196u, 197u, 198u, 199u, 200u, 1000u}) {
    std::u16string line(n, u'y');
    bytes = test::CaptureStdout([&] {
      StdOutStream()->Write(line.c_str(), line.size(), true);
      StdOutStream()->Write(line.c_str(), line.size(), false);
    });
    EXPECT_EQ(bytes, std::string(n, 'y') + "\r\n" + std::string(n, 'y')) << n;
  }
}

}  // namespace
}  // namespace sm
