// Local calendar time, for the time stamps of run-log records.
#pragma once

#include <cstdint>

struct LocalTime {
  int year;   // full year, four digits
  int month;  // 1 to 12
  int day;    // 1 to 31
  int hour;   // 0 to 23
  int minute;
  int second;
};

/// Reads the current calendar time as local broken-down time (all zero when it cannot be had).
void ReadLocalTime(LocalTime* time);
/// Turns `seconds` since 1970-01-01 00:00:00 UTC into local broken-down time (all zero when it
/// cannot be had). The count has 64 bits, so that dates from 2038 on are stamped right.
void ToLocalTime(int64_t seconds, LocalTime* time);
