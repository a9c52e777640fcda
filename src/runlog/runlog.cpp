// The run log's opening and time stamps, the installer log's reset and its merge into the run log.
#include "runlog/runlog.h"

#include "common/fixed_text.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/run_steps.h"

// Append mode first; when that open fails, write at the end of the existing file rather than
// emptying it, so that a run log is never lost for the sake of one record.
TextFile* OpenRunLog() {
  TextFile* file = OpenTextFile(kRunLogPath, TextFileMode::kAppend);
  return file != nullptr ? file : OpenTextFile(kRunLogPath, TextFileMode::kWriteAtEnd);
}

namespace {

// Appends `number` in decimal, then `after`, cut at the capacity as the rest of the text is.
void AppendNumber(char* out, size_t capacity, int number, const char* after) {
  char digits[16];
  char* first = digits + sizeof digits;
  *--first = '\0';
  unsigned magnitude =
      number < 0 ? 0u - static_cast<unsigned>(number) : static_cast<unsigned>(number);
  do {
    *--first = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (number < 0) *--first = '-';
  AppendBounded(out, capacity, first);
  AppendBounded(out, capacity, after);
}

}  // namespace

// Written number by number rather than with snprintf: six numbers do not need the C runtime's
// formatter, whose first use in a run cost more than the rest of a record.
void FormatTimeStamp(const LocalTime& time, char* out, size_t capacity) {
  if (!CopyBounded(out, capacity, "")) return;
  AppendNumber(out, capacity, time.month, "/");
  AppendNumber(out, capacity, time.day, "/");
  AppendNumber(out, capacity, time.year, " ");
  AppendNumber(out, capacity, time.hour, ":");
  AppendNumber(out, capacity, time.minute, ":");
  AppendNumber(out, capacity, time.second, " : ");
}

void ResetInstallerLog() {
  TextFile* file = OpenTextFile(kInstallerLogPath, TextFileMode::kCreateEmpty);
  if (file != nullptr) CloseTextFile(file);
}

void MergeInstallerLog() {
  char* line = static_cast<char*>(AllocateBuffer(kMergeLineCapacity));
  TextFile* log = line != nullptr ? OpenRunLog() : nullptr;
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
  MarkRunStep({.step = RunStep::kInstallerLogMerged});
}
