// The user text table: every text shown to a person, by identifier, with
// English defaults registered at start-up and replaced by user text data for
// the user's language. Also the three standard text streams.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sm {

struct ScratchPool;

// A line-by-line text sink.
class TextStream {
 public:
  // Writes `length` units of `text`; with `newline` a line end follows.
  virtual void Write(const char16_t* text, size_t length, bool newline) = 0;

 protected:
  ~TextStream() = default;
};

// The standard streams, in this order: standard output, standard error, and
// a stream that discards everything.
extern TextStream* const g_text_streams[3];
inline TextStream* StdOutStream() { return g_text_streams[0]; }
inline TextStream* StdErrStream() { return g_text_streams[1]; }
inline TextStream* NullStream() { return g_text_streams[2]; }

// Writes `text` line by line: each LF ends a line written with a line end
// (a CR before the LF is dropped); units after the last LF follow without
// one. A null stream writes nothing.
void TextStreamPrint(TextStream* stream, const char16_t* text);

// Adds the identifier with its default text (UTF-8); returns the identifier,
// for static initialisers to keep in the identifier's global variable.
const char16_t* UserTextRegister(const char16_t* id, const char* default_text);
// Adds or replaces the identifier's text; returns the identifier.
const char16_t* UserTextSet(const char16_t* id, const char16_t* text);

// The expanded text (%1..%9 arguments, %(id) references, %% for '%'). The
// result is read-only; it lives in `pool`, or, when it needed no expansion,
// is the stored text itself (valid while the entry is not replaced).
const char16_t* UserTextGet(ScratchPool* pool, const char16_t* id);
const char16_t* UserTextFormat(ScratchPool* pool, const char16_t* id, size_t count,
                               const char16_t* const* args);
const char16_t* UserTextFormat(ScratchPool* pool, const char16_t* id, const char16_t* arg1);
const char16_t* UserTextFormat(ScratchPool* pool, const char16_t* id, const char16_t* arg1,
                               const char16_t* arg2);

// Runs user text data (UTF-8, up to `length` bytes or the first NUL) as a
// script whose `text` commands set entries and whose variable `langid` is
// `language`. Script output and errors go to `stream` (may be null). Returns
// the number of errors the script reported.
uint32_t UserTextAddData(TextStream* stream, const char16_t* language, const char* data, size_t length);

// The user's language code ("sLanguage" of the user's international
// settings), "ENU" when there is none; computed once per process.
const char16_t* UserTextLanguage();

}  // namespace sm
