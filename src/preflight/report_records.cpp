// The preflight's WriteLogRecord: it opens the run log as the launcher's does for each record, over
// the dry platform, which notes whether it would open, and keeps the record, unwritten, until the
// preflight takes the records of the step that wrote them.
#include "preflight/report_records.h"

#include "platform/files.h"
#include "runlog/runlog.h"

namespace {

// The one place the preflight keeps state between calls: the run is a single thread that takes
// the records right after each step.
RecordList pending;

}  // namespace

void WriteLogRecord(const char* who, const char* where, const char* what, const char* message) {
  CloseTextFile(OpenRunLog());
  if (pending.count == kMostRecords) return;
  ReportedRecord& record = pending.records[pending.count++];
  CopyText(&record.who, who);
  CopyText(&record.where, where);
  CopyText(&record.what, what);
  CopyText(&record.message, message);
}

void TakeRecords(RecordList* list) {
  if (list != nullptr) *list = pending;
  pending.count = 0;
}
