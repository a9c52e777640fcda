// Loading and validating Installer.ini: the gate of the run.
#include "settings/settings.h"

#include <cstdio>

#include "platform/profile.h"
#include "runlog/runlog.h"

namespace {

// Reads one key of the settings section into `field`. Returns 1 when a value was read, 0 when it
// is missing (empty), and -1 when it is longer than the field can hold.
template <size_t Capacity>
int ReadSetting(const char* settingsPath, const char* key, FixedText<Capacity>* field) {
  char value[kPathCapacity];
  ReadProfileString(kSettingsSection, key, value, sizeof value, settingsPath);
  if (value[0] == '\0') return 0;
  return CopyText(field, value) ? 1 : -1;
}

int RejectSetting(const LauncherLocation& location, const char* who, const char* key,
                  const char* problem) {
  char message[80];
  snprintf(message, sizeof message, "%s %s", key, problem);
  WriteLogRecord(who, location.directory.text, location.name.text, message);
  return 0;
}

}  // namespace

int LoadInstallerSettings(LauncherLocation* found, InstallerSettings* settings) {
  static constexpr char kMissing[] = "is missing from ini file.";
  static constexpr char kTooLong[] = "is too long in ini file.";

  // Without a folder of its own (a bare "Installer.ini" would be looked up elsewhere), or with one
  // too long to hold the file name, there is no settings file to read.
  int located = GetLauncherLocation(found);
  const LauncherLocation& location = *found;
  FixedText<kPathCapacity> settingsPath;
  if (!located || !CopyText(&settingsPath, location.directory.text) ||
      !AppendText(&settingsPath, kSettingsFileName)) {
    return RejectSetting(location, "N/A ", "AppName", kMissing);
  }
  const char* path = settingsPath.text;

  if (ReadSetting(path, "AppName", &settings->installerName) == 0) {
    return RejectSetting(location, "N/A ", "AppName", kMissing);
  }
  if (ReadSetting(path, "DaziveID", &settings->patchId) == 0) {
    return RejectSetting(location, "N/A", "DaziveID", kMissing);
  }
  const char* patchId = settings->patchId.text;
  if (ReadSetting(path, "MicrosoftRegKey", &settings->checkKey) == 0) {
    return RejectSetting(location, patchId, "MicrosoftRegKey", kMissing);
  }
  int result = ReadSetting(path, "RegKeyName", &settings->checkValueName);
  if (result != 1)
    return RejectSetting(location, patchId, "RegKeyName", result == 0 ? kMissing : kTooLong);
  result = ReadSetting(path, "RegKeyValue", &settings->expectedValue);
  if (result != 1)
    return RejectSetting(location, patchId, "RegKeyValue", result == 0 ? kMissing : kTooLong);
  // The extra switches are optional: absent, they are simply empty.
  result = ReadSetting(path, "RunParams", &settings->extraSwitches);
  if (result == 0) CopyText(&settings->extraSwitches, "");
  if (result == -1) return RejectSetting(location, patchId, "RunParams", kTooLong);
  return 1;
}
