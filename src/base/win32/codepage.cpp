// The system ANSI code page through the platform's conversion services, one
// character at a time so that a failure costs one character only.
#include <windows.h>

#include <atomic>

#include "base/codepage_backend.h"
#include "base/utf.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t));

namespace sm {

namespace {

// Whether the system accepts WC_NO_BEST_FIT_CHARS; probed once per process
// (two threads probing at once compute the same answer).
bool NoBestFitAccepted() {
  static std::atomic<int> state{0};  // 0 unknown, 1 accepted, 2 refused
  int known = state.load(std::memory_order_relaxed);
  if (!known) {
    char out[kMaxAnsiBytes];
    int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, L"A", 1, out, kMaxAnsiBytes,
                                nullptr, nullptr);
    known = n > 0 ? 1 : 2;
    state.store(known, std::memory_order_relaxed);
  }
  return known == 1;
}

}  // namespace

uint32_t AnsiDecodeChar(const char* text, size_t length, size_t& pos) {
  if (pos >= length) return 0;
  size_t size = IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(text[pos])) ? 2 : 1;
  if (size > length - pos) {
    pos = length;
    return 0xFFFF;
  }
  wchar_t wide[4];
  int units = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text + pos,
                                  static_cast<int>(size), wide, 4);
  if (units <= 0) {
    pos++;
    return 0xFFFF;
  }
  pos += size;
  size_t at = 0;
  uint32_t code_point =
      Utf16Decode(reinterpret_cast<const char16_t*>(wide), static_cast<size_t>(units), at);
  // A character that converts to NUL must not end the text early.
  return code_point ? code_point : 0xFFFF;
}

size_t AnsiEncodeChar(uint32_t code_point, char (&out)[kMaxAnsiBytes]) {
  if (code_point <= 0xFFFF) {
    wchar_t wide = static_cast<wchar_t>(code_point);
    BOOL used_default = FALSE;
    bool no_best_fit = NoBestFitAccepted();
    int n = WideCharToMultiByte(CP_ACP, no_best_fit ? WC_NO_BEST_FIT_CHARS : 0, &wide, 1, out,
                                kMaxAnsiBytes, nullptr, &used_default);
    bool exact = n > 0 && !used_default;
    if (exact && !no_best_fit && (n > 1 || static_cast<unsigned char>(out[0]) != code_point)) {
      // Without the option a best-fit substitute can slip through: the bytes
      // must convert back to the same single character.
      wchar_t back[4];
      int units = MultiByteToWideChar(CP_ACP, 0, out, n, back, 4);
      exact = units == 1 && back[0] == wide;
    }
    if (exact) return static_cast<size_t>(n);
  }
  out[0] = 0x7F;
  return 1;
}

}  // namespace sm
