// Where the launcher lies, and the settings of the one hotfix it installs, read from
// Installer.ini beside it.
#pragma once

#include "common/fixed_text.h"
#include "platform/codepage.h"

inline constexpr char kSettingsFileName[] = "Installer.ini";
inline constexpr char kSettingsSection[] = "MicrosoftPatch";
inline constexpr int kPathCapacity = 260;

// The settings' keys in the order the launcher reads them, each named by its place among them.
enum SettingKey {
  kAppNameKey,
  kPatchIdKey,
  kCheckKeyKey,
  kCheckValueNameKey,
  kExpectedValueKey,
  kExtraSwitchesKey,
  kSettingCount
};
inline constexpr const char* kSettingKeys[kSettingCount] = {
    "AppName", "DaziveID", "MicrosoftRegKey", "RegKeyName", "RegKeyValue", "RunParams"};

struct LauncherLocation {
  FixedText<260> directory;  // drive and directory, ending in the separator
  FixedText<256> name;       // file name without its extension
};

struct InstallerSettings {
  FixedText<260> installerName;   // AppName
  FixedText<260> patchId;         // DaziveID
  FixedText<260> checkKey;        // MicrosoftRegKey
  FixedText<100> checkValueName;  // RegKeyName
  FixedText<52> expectedValue;    // RegKeyValue
  FixedText<100> extraSwitches;   // RunParams, empty when absent
};

/// Splits an executable's full path into launcher directory (drive and directory) and launcher
/// name (file name without extension), each part of the path cut to 255 characters. A lead byte
/// of `isLeadByte` shields its next byte from being taken for a separator or a dot. Returns 1, or
/// 0 when a part was cut.
int SplitModulePath(const char* path, LeadByteRule isLeadByte, LauncherLocation* location);
/// Fills `location` from the running executable's path. Returns 1, or 0 when that path could not
/// be had or was cut: the location then names no folder of the launcher's own.
int GetLauncherLocation(LauncherLocation* location);
/// Fills `location`, then reads the settings in order. Returns 1 when all five required values
/// were found and fit their fields; otherwise writes one record that says which value is
/// missing or too long and returns 0. A location that names no folder leaves no settings file.
/// Marks the step with whether they loaded, the location and the patch id.
int LoadInstallerSettings(LauncherLocation* location, InstallerSettings* settings);
