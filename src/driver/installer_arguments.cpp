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

int PrepareInstallerArguments(const LauncherLocation& location, const InstallerSettings& settings,
                              const char* commandTail, InstallerArguments* arguments) {
  if (AssembleInstallerArguments(settings.extraSwitches.text, commandTail, arguments)) return 1;
  WriteLogRecord(settings.patchId.text, location.directory.text, location.name.text,
                 kArgumentsTooLong);
  return 0;
}
