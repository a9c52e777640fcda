// The preflight's record sink: the records that the launcher's own code writes go into the report
// instead of the run log, each filed under the step that wrote it. The preflight links it in place
// of the launcher's run-log writer.
#pragma once

#include "common/fixed_text.h"

// More than one run writes: the settings' one, or three banner records, three of a failed start,
// four of a failed check and two of a patch-info file that cannot be opened.
inline constexpr int kMostRecords = 16;

/// One record as the launcher would write it, without its time stamp.
struct ReportedRecord {
  FixedText<260> who;
  FixedText<260> where;
  FixedText<260> what;
  FixedText<1024> message;
  int mark;  // the run's marks made before it: its step is the one the mark at this place makes
};

struct RecordList {
  int count = 0;
  ReportedRecord records[kMostRecords];
};

/// Empties the records kept so far, for a run to come.
void ForgetRecords();
/// The records written since ForgetRecords, in order, each with its place among the run's marks.
const RecordList& WrittenRecords();
/// The records written past the ones kept.
int DroppedRecords();
