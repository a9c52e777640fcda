// The installer's arguments: the fixed switches, then the configured ones and the command tail,
// and the banner that announces them.
#include <cstring>

#include "driver/driver.h"
#include "platform/run_steps.h"
#include "runlog/runlog.h"

int AssembleInstallerArguments(const char* extraSwitches, const char* commandTail,
                               InstallerArguments* arguments, int* length) {
  const char* pieces[] = {kInstallerArgumentsHead,
                          kInstallerLogPath,
                          "\" ",
                          extraSwitches,
                          extraSwitches[0] != '\0' ? " " : "",
                          commandTail};
  CopyText(arguments, "");
  size_t whole = 0;
  int fits = 1;
  for (const char* piece : pieces) {
    whole += strlen(piece);
    fits = AppendText(arguments, piece) && fits;
  }
  *length = static_cast<int>(whole);
  return fits;
}

int PrepareInstallerArguments(const LauncherLocation& location, const InstallerSettings& settings,
                              const char* commandTail, InstallerArguments* arguments) {
  int length = 0;
  int fits =
      AssembleInstallerArguments(settings.extraSwitches.text, commandTail, arguments, &length);
  if (fits) {
    WriteLogRecord(kBannerTop, "", "", "");
    WriteLogRecord(kBannerInstalling, settings.patchId.text, settings.installerName.text,
                   arguments->text);
    WriteLogRecord(kBannerBottom, "", "", "");
  } else {
    WriteLogRecord(settings.patchId.text, location.directory.text, location.name.text,
                   kArgumentsTooLong);
  }
  MarkRunStep({.step = RunStep::kArgumentsAssembled,
               .decided = fits,
               .text = arguments->text,
               .length = length});
  return fits;
}
