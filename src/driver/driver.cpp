// The run: reset the installer log, load the settings, write the banner, launch, check, and then
// record the patch or merge the installer log.
#include "driver/driver.h"

#include "check/check.h"
#include "launch/launch.h"
#include "patchinfo/patchinfo.h"
#include "platform/run_steps.h"
#include "runlog/runlog.h"
#include "settings/settings.h"

int CheckAndRecordInstall(const LauncherLocation& location, const InstallerSettings& settings) {
  const char* directory = location.directory.text;
  const char* name = location.name.text;
  const char* patchId = settings.patchId.text;
  int installed =
      CheckInstalled(directory, name, settings.checkKey.text, settings.checkValueName.text,
                     settings.expectedValue.text, patchId);
  // The mark names the step a passed check leads to, which a platform that only looks may take
  // to tell where the id would go when the check does not pass.
  MarkRunStep({.step = RunStep::kCheckDecided,
               .decided = installed,
               .directory = directory,
               .name = name,
               .patchId = patchId,
               .passedStep = RecordPatchInfo});
  if (installed) RecordPatchInfo(directory, name, patchId);
  return installed;
}

int RunInstall(const char* commandTail) {
  ResetInstallerLog();

  LauncherLocation location;
  InstallerSettings settings;
  if (!LoadInstallerSettings(&location, &settings)) return kRunFailed;

  InstallerArguments arguments;
  if (!PrepareInstallerArguments(location, settings, commandTail, &arguments)) return kRunFailed;

  int launchResult =
      LaunchInstaller(location.directory.text, location.name.text, settings.installerName.text,
                      arguments.text, settings.patchId.text);
  if (CheckAndRecordInstall(location, settings)) return 0;
  MergeInstallerLog();
  return launchResult;
}
