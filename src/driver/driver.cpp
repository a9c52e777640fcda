// The run: reset the installer log, load the settings, write the banner, launch, check, and then
// record the patch or merge the installer log.
#include "driver/driver.h"

#include "check/check.h"
#include "launch/launch.h"
#include "patchinfo/patchinfo.h"
#include "runlog/runlog.h"
#include "settings/settings.h"

int RunInstall(const char* commandTail) {
  ResetInstallerLog();

  LauncherLocation location;
  InstallerSettings settings;
  if (!LoadInstallerSettings(&location, &settings)) return kRunFailed;
  const char* directory = location.directory.text;
  const char* name = location.name.text;
  const char* patchId = settings.patchId.text;

  InstallerArguments arguments;
  if (!PrepareInstallerArguments(location, settings, commandTail, &arguments)) return kRunFailed;

  WriteLogRecord(kBannerTop, "", "", "");
  WriteLogRecord(kBannerInstalling, patchId, settings.installerName.text, arguments.text);
  WriteLogRecord(kBannerBottom, "", "", "");

  int launchResult =
      LaunchInstaller(directory, name, settings.installerName.text, arguments.text, patchId);
  if (CheckInstalled(directory, name, settings.checkKey.text, settings.checkValueName.text,
                     settings.expectedValue.text, patchId)) {
    RecordPatchInfo(directory, name, patchId);
    return 0;
  }
  MergeInstallerLog();
  return launchResult;
}
