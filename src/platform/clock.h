// Local calendar time, for the time stamps of run-log records.
#pragma once

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
