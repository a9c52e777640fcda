// Local time from the C runtime's 64-bit calendar time and localtime, which msvcrt.dll has had
// since Windows 2000; the 32-bit ones stop at 19 January 2038.
#include "platform/clock.h"

#include <ctime>

void ReadLocalTime(LocalTime* time) { ToLocalTime(_time64(nullptr), time); }

void ToLocalTime(int64_t seconds, LocalTime* time) {
  *time = LocalTime{};
  const __time64_t at = seconds;
  const tm* local = _localtime64(&at);
  if (local == nullptr) return;
  *time = LocalTime{local->tm_year + 1900, local->tm_mon + 1, local->tm_mday,
                    local->tm_hour,        local->tm_min,     local->tm_sec};
}
