// The preflight's WriteLogRecord: it opens the run log as the launcher's does for each record, over
// the dry platform, which notes whether it would open, and keeps the record, unwritten, with the
// number of the run's marks made before it, which files it under its step.
#include "preflight/report_records.h"

#include "platform/dry/dry.h"
#include "platform/files.h"
#include "runlog/runlog.h"

namespace {

// The one place the preflight keeps records: the run is a single thread.
RecordList written;
int dropped = 0;

}  // namespace

void WriteLogRecord(const char* who, const char* where, const char* what, const char* message) {
  CloseTextFile(OpenRunLog());
  if (written.count == kMostRecords) {
    ++dropped;
    return;
  }
  ReportedRecord& record = written.records[written.count++];
  CopyText(&record.who, who);
  CopyText(&record.where, where);
  CopyText(&record.what, what);
  CopyText(&record.message, message);
  record.mark = DryRunJournal().markCount;
}

void ForgetRecords() {
  written.count = 0;
  dropped = 0;
}

const RecordList& WrittenRecords() { return written; }

int DroppedRecords() { return dropped; }
