// The preflight: what the launcher in a hotfix bundle would do on this host, found with the
// launcher's own code and without changing anything, and the exit status an orchestrator gates on.
#pragma once

#include <cstdint>

#include "driver/driver.h"
#include "launch/launch.h"
#include "patchinfo/patchinfo.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/process.h"
#include "preflight/report_records.h"
#include "settings/settings.h"

// The exit statuses, in the order the launcher meets their causes.
inline constexpr int kPreflightReady = 0;          // run: not installed, or installed, not recorded
inline constexpr int kPreflightCannotRun = 1;      // the launcher would stop or fail to start it
inline constexpr int kPreflightInstalled = 2;      // installed and recorded: skip this host
inline constexpr int kPreflightRebootPending = 3;  // reboot first
inline constexpr int kPreflightUsage = 64;         // the command line was wrong

inline constexpr int kSettingCount = 6;
extern const char* const kSettingKeys[kSettingCount];  // in the order the launcher reads them

// The registry markers of a pending reboot, each in the registry's system view.
inline constexpr char kCbsRebootKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing\\RebootPending";
inline constexpr char kUpdateRebootKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update\\RebootRequired";
inline constexpr char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
inline constexpr char kPendingRenamesValue[] = "PendingFileRenameOperations";

// Whether the patch-info file holds a line equal to the patch id.
enum class PatchIdRecord {
  kNotRead,  // no file to read: no ProgramPath, the settings not loaded, no file, or unreadable
  kHeld,
  kNotHeld,
};

// Where this host's file system meets a path the report gives; empty when that cannot be told.
using HostPath = FixedText<kHostPathCapacity>;

struct PreflightRequest {
  const char* folder;        // the bundle's folder, a full platform path ending in a separator
  const char* launcherFile;  // the launcher's file name in it
  const char* commandTail;   // as the launcher would be given it
};

struct PreflightReport {
  LauncherLocation location;
  int located = 0;
  FixedText<kPathCapacity> settingsPath;  // empty when the folder leaves no room for it
  FixedText<kPathCapacity> settingValues[kSettingCount];  // as the launcher's reads give them
  int settingsLoaded = 0;
  RecordList settingsRecords;
  InstallerSettings settings;

  // Known once the settings are loaded.
  InstallerArguments arguments;
  int argumentsFit = 0;
  RecordList argumentRecords;
  LaunchText installerPath;
  LaunchText commandLine;
  int commandFits = 0;
  ProgramFile installerFile = ProgramFile::kMissing;
  int installed = 0;
  RecordList checkRecords;

  PatchPath patchInfoPath;
  PatchInfoLocation patchInfo = PatchInfoLocation::kUnused;
  FileAccess patchInfoAccess = FileAccess::kCannotOpen;
  PatchIdRecord patchIdRecord = PatchIdRecord::kNotRead;
  RecordList patchInfoRecords;

  FileAccess runLogAccess = FileAccess::kCannotOpen;
  FileAccess installerLogAccess = FileAccess::kCannotOpen;

  int cbsRebootPending = 0;
  int updateRebootRequired = 0;
  int renamesPending = 0;
  InstallationActivity installation = InstallationActivity::kNotChecked;
  int freeSpaceKnown = 0;
  uint64_t freeSpace = 0;

  // The host paths of the launcher's folder and of the files above.
  HostPath launcherHostPath;
  HostPath settingsHostPath;
  HostPath installerHostPath;
  HostPath patchInfoHostPath;
  HostPath runLogHostPath;
  HostPath installerLogHostPath;
};

/// Fills `report` with every finding for the launcher that `request` names, reading the settings,
/// the registry and the file system as the launcher would and writing nothing.
void InspectBundle(const PreflightRequest& request, PreflightReport* report);
/// Whether a passed check would leave the patch-info file as it is worth keeping: no patch-info
/// file is used, or it holds the patch id already.
int PatchIdRecorded(const PreflightReport& report);
/// Whether any of the three reboot markers is set.
int RebootPending(const PreflightReport& report);
/// The exit status the findings give, decided in the order the launcher meets them.
int DecidePreflightStatus(const PreflightReport& report);
