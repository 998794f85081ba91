// The system's own calendar conversion decides which dates exist.
#include <windows.h>

#include "media/calendar.h"

namespace sm {

uint64_t CalendarToFileTime(const CalendarTime& t) {
  SYSTEMTIME st{};
  st.wYear = t.year;
  st.wMonth = t.month;
  st.wDay = t.day;
  st.wHour = t.hour;
  st.wMinute = t.minute;
  st.wSecond = t.second;
  st.wMilliseconds = t.millisecond;
  FILETIME ft;
  if (!SystemTimeToFileTime(&st, &ft)) return 0;
  return (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
}

}  // namespace sm
