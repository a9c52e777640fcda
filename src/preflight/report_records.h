// The preflight's record sink: the records that the launcher's own code writes go into the report
// instead of the run log. The preflight links it in place of the launcher's run-log writer.
#pragma once

#include "common/fixed_text.h"

inline constexpr int kMostRecordsPerFinding = 8;

/// One record as the launcher would write it, without its time stamp.
struct ReportedRecord {
  FixedText<260> who;
  FixedText<260> where;
  FixedText<260> what;
  FixedText<1024> message;
};

struct RecordList {
  int count = 0;
  ReportedRecord records[kMostRecordsPerFinding];
};

/// Moves the records written since the last call into `list`; more than it holds are dropped.
void TakeRecords(RecordList* list);
