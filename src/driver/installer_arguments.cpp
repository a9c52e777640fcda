// The installer's arguments: the fixed switches, then the configured ones and the command tail.
#include "driver/driver.h"
#include "runlog/runlog.h"

int AssembleInstallerArguments(const char* extraSwitches, const char* commandTail,
                               InstallerArguments* arguments) {
  int whole = CopyText(arguments, kInstallerArgumentsHead) &&
              AppendText(arguments, kInstallerLogPath) && AppendText(arguments, "\" ") &&
              AppendText(arguments, extraSwitches) &&
              (extraSwitches[0] == '\0' || AppendText(arguments, " ")) &&
              AppendText(arguments, commandTail);
  return whole ? 1 : 0;
}
