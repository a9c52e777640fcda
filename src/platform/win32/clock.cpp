// Local time from the C runtime's calendar time and localtime.
#include "platform/clock.h"

#include <ctime>

void ReadLocalTime(LocalTime* time) {
  *time = LocalTime{};
  time_t now = ::time(nullptr);
  const tm* local = localtime(&now);
  if (local == nullptr) return;
  *time = LocalTime{local->tm_year + 1900, local->tm_mon + 1, local->tm_mday,
                    local->tm_hour,        local->tm_min,     local->tm_sec};
}
