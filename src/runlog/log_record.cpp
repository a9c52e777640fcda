// Where the launcher's records go: one line each, appended to the run log. The preflight links a
// record sink of its own in place of this file.
#include "platform/files.h"
#include "runlog/runlog.h"

void WriteLogRecord(const char* who, const char* where, const char* what, const char* message) {
  TextFile* log = OpenRunLog();
  if (log == nullptr) return;
  LocalTime now;
  ReadLocalTime(&now);
  char stamp[80];
  FormatTimeStamp(now, stamp, sizeof stamp);
  const char* parts[] = {stamp, who, ", ", where, " ", what, " ", message, "\n"};
  for (const char* part : parts) WriteText(log, part);
  CloseTextFile(log);
}
