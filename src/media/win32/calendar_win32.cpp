// The system's own calendar conversion decides which dates exist.
#include <windows.h>

#include <initializer_list>

#include "media/calendar.h"

namespace sm {

uint64_t CalendarToFileTime(const CalendarTime& t) {
  for (uint32_t field : {t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond}) {
    if (field > 0xFFFF) return 0;  // no such field value in the system's record
  }
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(t.year);
  st.wMonth = static_cast<WORD>(t.month);
  st.wDay = static_cast<WORD>(t.day);
  st.wHour = static_cast<WORD>(t.hour);
  st.wMinute = static_cast<WORD>(t.minute);
  st.wSecond = static_cast<WORD>(t.second);
  st.wMilliseconds = static_cast<WORD>(t.millisecond);
  FILETIME ft;
  if (!SystemTimeToFileTime(&st, &ft)) return 0;
  return (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
}

}  // namespace sm
