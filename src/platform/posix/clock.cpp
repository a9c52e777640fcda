// Local time from the system's calendar time and time zone.
#include "platform/clock.h"

#include <ctime>

void ReadLocalTime(LocalTime* time) { ToLocalTime(::time(nullptr), time); }

void ToLocalTime(int64_t seconds, LocalTime* time) {
  *time = LocalTime{};
  const time_t at = static_cast<time_t>(seconds);
  tm local;
  if (static_cast<int64_t>(at) != seconds || localtime_r(&at, &local) == nullptr) return;
  *time = LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                    local.tm_hour,        local.tm_min,     local.tm_sec};
}
