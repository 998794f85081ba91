// The standard text streams and the line-by-line printer.
#include <cstdlib>
#include <cstring>

#include "base/codepage.h"
#include "usertext/platform.h"
#include "usertext/usertext.h"

namespace sm {
namespace {

constexpr size_t kLocalBytes = 200;

// Writes to a standard handle in the system code page, lines ending in CR LF.
class StdStream final : public TextStream {
 public:
  constexpr explicit StdStream(int which) : which_(which) {}
  void Write(const char16_t* text, size_t length, bool newline) override {
    char local[kLocalBytes];
    char* bytes = local;
    char* heap = nullptr;
    size_t n = WideToAnsi(local, kLocalBytes, text, length);
    if (n + 2 >= kLocalBytes) {
      heap = static_cast<char*>(malloc(n + 3));
      if (heap) {
        WideToAnsi(heap, n + 3, text, length);
        bytes = heap;
      } else {
        local[kLocalBytes - 3] = 0;  // room for the line end
        n = strlen(local);
      }
    }
    if (newline) {
      bytes[n++] = '\r';
      bytes[n++] = '\n';
    }
    UserTextStdWrite(which_, bytes, n);
    free(heap);
  }

 private:
  int which_;
};

class DiscardStream final : public TextStream {
 public:
  void Write(const char16_t*, size_t, bool) override {}
};

StdStream g_stdout(0);
StdStream g_stderr(1);
DiscardStream g_null;

}  // namespace

TextStream* const g_text_streams[3] = {&g_stdout, &g_stderr, &g_null};

void TextStreamPrint(TextStream* stream, const char16_t* text) {
  if (!stream) return;
  if (!text || !text[0]) {
    stream->Write(u"", 0, false);
    return;
  }
  size_t start = 0;
  size_t i = 0;
  for (; text[i]; ++i) {
    if (text[i] != u'\n') continue;
    size_t end = i;
    if (end > start && text[end - 1] == u'\r') --end;
    stream->Write(text + start, end - start, true);
    start = i + 1;
  }
  if (i > start) stream->Write(text + start, i - start, false);
}

}  // namespace sm
