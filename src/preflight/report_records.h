// The preflight's record sink: the records that the launcher's own code writes go into the report
// instead of the run log. The preflight links it in place of the launcher's run-log writer.
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
};

struct RecordList {
  int count = 0;
  ReportedRecord records[kMostRecords];
};

/// Moves the records written since the last call into `list` (nullptr: drops them); more than it
/// holds are dropped.
void TakeRecords(RecordList* list);
