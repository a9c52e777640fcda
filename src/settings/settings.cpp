// Loading and validating Installer.ini: the gate of the run.
#include "settings/settings.h"

#include <cstdio>

#include "platform/profile.h"
#include "platform/run_steps.h"
#include "runlog/runlog.h"

namespace {

constexpr char kMissing[] = "is missing from ini file.";
constexpr char kTooLong[] = "is too long in ini file.";

// Reads one key of the settings section into `field`. Returns 1 when a value was read, 0 when it
// is missing (empty), and -1 when it is longer than the field can hold.
template <size_t Capacity>
int ReadSetting(const char* settingsPath, SettingKey key, FixedText<Capacity>* field) {
  char value[kPathCapacity];
  ReadProfileString(kSettingsSection, kSettingKeys[key], value, sizeof value, settingsPath);
  if (value[0] == '\0') return 0;
  return CopyText(field, value) ? 1 : -1;
}

int RejectSetting(const LauncherLocation& location, const char* who, SettingKey key,
                  const char* problem) {
  char message[80];
  snprintf(message, sizeof message, "%s %s", kSettingKeys[key], problem);
  WriteLogRecord(who, location.directory.text, location.name.text, message);
  return 0;
}

int ReadSettings(LauncherLocation* found, InstallerSettings* settings) {
  // Without a folder of its own (a bare "Installer.ini" would be looked up elsewhere), or with one
  // too long to hold the file name, there is no settings file to read.
  int located = GetLauncherLocation(found);
  const LauncherLocation& location = *found;
  FixedText<kPathCapacity> settingsPath;
  if (!located || !CopyText(&settingsPath, location.directory.text) ||
      !AppendText(&settingsPath, kSettingsFileName)) {
    return RejectSetting(location, "N/A ", kAppNameKey, kMissing);
  }
  const char* path = settingsPath.text;

  if (ReadSetting(path, kAppNameKey, &settings->installerName) == 0) {
    return RejectSetting(location, "N/A ", kAppNameKey, kMissing);
  }
  if (ReadSetting(path, kPatchIdKey, &settings->patchId) == 0) {
    return RejectSetting(location, "N/A", kPatchIdKey, kMissing);
  }
  const char* patchId = settings->patchId.text;
  if (ReadSetting(path, kCheckKeyKey, &settings->checkKey) == 0) {
    return RejectSetting(location, patchId, kCheckKeyKey, kMissing);
  }
  int result = ReadSetting(path, kCheckValueNameKey, &settings->checkValueName);
  if (result != 1) {
    return RejectSetting(location, patchId, kCheckValueNameKey, result == 0 ? kMissing : kTooLong);
  }
  result = ReadSetting(path, kExpectedValueKey, &settings->expectedValue);
  if (result != 1) {
    return RejectSetting(location, patchId, kExpectedValueKey, result == 0 ? kMissing : kTooLong);
  }
  // The extra switches are optional: absent, they are simply empty.
  result = ReadSetting(path, kExtraSwitchesKey, &settings->extraSwitches);
  if (result == 0) CopyText(&settings->extraSwitches, "");
  if (result == -1) return RejectSetting(location, patchId, kExtraSwitchesKey, kTooLong);
  return 1;
}

}  // namespace

int LoadInstallerSettings(LauncherLocation* location, InstallerSettings* settings) {
  int loaded = ReadSettings(location, settings);
  MarkRunStep({.step = RunStep::kSettingsRead,
               .decided = loaded,
               .directory = location->directory.text,
               .name = location->name.text,
               .patchId = settings->patchId.text});
  return loaded;
}
