// The permanent run log, where every report of the launcher goes as one record, and the installer
// log, the scratch file the hotfix installer writes its own log into.
#pragma once

#include <cstddef>

#include "platform/clock.h"

inline constexpr char kRunLogPath[] = "c:\\QOR_Updates_InstallOS.log";
inline constexpr char kInstallerLogPath[] = "c:\\tmp.log";
inline constexpr int kMergeLineCapacity = 240;

struct TextFile;

/// Opens the run log for appending (or, when appending is refused, for writing at its end);
/// nullptr when neither open works.
TextFile* OpenRunLog();
/// Formats the record's time stamp "%d/%d/%d %d:%d:%d : " (month/day/year hour:minute:second,
/// no padding) into `out`.
void FormatTimeStamp(const LocalTime& time, char* out, size_t capacity);
/// Appends one record "<time stamp><who>, <where> <what> <message>\n" to the run log. A record
/// that cannot be written is dropped silently. The build links it: the launcher's writes to the
/// run log, the preflight's keeps the record for its report.
void WriteLogRecord(const char* who, const char* where, const char* what, const char* message);
/// Creates the installer log or cuts it to length zero; failure is ignored.
void ResetInstallerLog();
/// Copies the installer log into the run log in chunks of at most 239 characters, each followed
/// by a line feed; nothing is copied when either file or the line buffer is not to be had. Marks
/// the step.
void MergeInstallerLog();
