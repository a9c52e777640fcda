// The run log's opening and time stamps, the installer log's reset and its merge into the run log.
#include "runlog/runlog.h"

#include <cstdio>

#include "platform/files.h"
#include "platform/memory.h"

// Append mode first; when that open fails, write at the end of the existing file rather than
// emptying it, so that a run log is never lost for the sake of one record.
TextFile* OpenRunLog() {
  TextFile* file = OpenTextFile(kRunLogPath, TextFileMode::kAppend);
  return file != nullptr ? file : OpenTextFile(kRunLogPath, TextFileMode::kWriteAtEnd);
}

void FormatTimeStamp(const LocalTime& time, char* out, size_t capacity) {
  snprintf(out, capacity, "%d/%d/%d %d:%d:%d : ", time.month, time.day, time.year, time.hour,
           time.minute, time.second);
}

void ResetInstallerLog() {
  TextFile* file = OpenTextFile(kInstallerLogPath, TextFileMode::kCreateEmpty);
  if (file != nullptr) CloseTextFile(file);
}

void MergeInstallerLog() {
  char* line = static_cast<char*>(AllocateBuffer(kMergeLineCapacity));
  if (line == nullptr) return;
  TextFile* log = OpenRunLog();
  if (log != nullptr) {
    TextFile* installerLog = OpenTextFile(kInstallerLogPath, TextFileMode::kRead);
    if (installerLog != nullptr) {
      while (ReadTextLine(installerLog, line, kMergeLineCapacity)) {
        WriteText(log, line);
        WriteText(log, "\n");
      }
      CloseTextFile(installerLog);
    }
    CloseTextFile(log);
  }
  ReleaseBuffer(line);
}
