// The preflight's WriteLogRecord: it keeps each record, unwritten, until the preflight takes the
// records of the finding that wrote them.
#include "preflight/report_records.h"

#include "runlog/runlog.h"

namespace {

// The one place the preflight keeps state between calls: the run is a single thread that takes
// the records right after each step.
RecordList pending;

}  // namespace

void WriteLogRecord(const char* who, const char* where, const char* what, const char* message) {
  if (pending.count == kMostRecordsPerFinding) return;
  ReportedRecord& record = pending.records[pending.count++];
  CopyText(&record.who, who);
  CopyText(&record.where, where);
  CopyText(&record.what, what);
  CopyText(&record.message, message);
}

void TakeRecords(RecordList* list) {
  *list = pending;
  pending.count = 0;
}
