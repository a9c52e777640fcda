// The preflight: what the launcher of a hotfix bundle would do on this host, found by running the
// launcher's own run over the dry platform, and the exit status an orchestrator gates on.
#pragma once

#include <cstdint>

#include "driver/driver.h"
#include "launch/launch.h"
#include "patchinfo/patchinfo.h"
#include "platform/dry/dry.h"
#include "platform/folders.h"
#include "platform/process.h"
#include "platform/staging.h"
#include "preflight/report_records.h"
#include "preflight/sums.h"
#include "settings/settings.h"

// The exit statuses: those of a report in the order the launcher meets their causes, then the
// preflight's own failures.
inline constexpr int kPreflightReady = 0;          // run: not installed, or installed, not recorded
inline constexpr int kPreflightCannotRun = 1;      // the launcher would stop or fail to start it
inline constexpr int kPreflightInstalled = 2;      // installed and recorded: skip this host
inline constexpr int kPreflightRebootPending = 3;  // reboot first
inline constexpr int kPreflightUnsafe = 4;         // someone else can change what would run
inline constexpr int kPreflightUsage = 64;         // the command line was wrong (EX_USAGE)
inline constexpr int kPreflightOutputFailed = 74;  // an output could not be written (EX_IOERR)
inline constexpr int kPreflightCannotTell = 77;    // something that decides could not be read
                                                   // (EX_NOPERM)

// The exit statuses of a host's state (--state), beside the usage, output and cannot-tell ones.
inline constexpr int kStateNotInstalled = 0;
inline constexpr int kStateSettingsBroken = 1;  // a required setting is missing or too long
inline constexpr int kStateInstalled = 2;       // recorded or not: the report says

// The registry markers of a pending reboot, each in the registry's system view.
inline constexpr char kCbsRebootKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing\\RebootPending";
inline constexpr char kUpdateRebootKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update\\RebootRequired";
inline constexpr char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
inline constexpr char kPendingRenamesValue[] = "PendingFileRenameOperations";

// Whether the patch-info file holds a line equal to the patch id.
enum class PatchIdRecord {
  kNotRead,  // no file to read: no ProgramPath, no file, or the settings not loaded
  kHeld,
  kNotHeld,
  kUnknown,  // the file could not be read
};

// Where this host's file system meets a path the report gives; empty when that cannot be told.
using HostPath = FixedText<kHostPathCapacity>;

/// The SHA256SUMS file the bundle is checked against, as the command line gave it.
struct SumsFile {
  StagingPath shown;  // its path as report text; empty when none was given
  const SumsList* list =
      nullptr;         // what it lists; nullptr when none was given or it could not be read
  StagingNote reason;  // why this user could not read it, when `list` is nullptr
};

struct PreflightRequest {
  const char* folder;        // the bundle's folder, a full platform path ending in a separator
  const char* launcherFile;  // the launcher's file name in it
  const char* commandTail;   // as the launcher would be given it
  const SumsFile* sums;
};

/// A finding that could not be told, named by its place in the JSON report.
struct UnknownFinding {
  const char* item;
  const char* reason;
};

// Those of the run's own findings, each staging item the report holds, and one for the rest.
inline constexpr int kMostUnknownFindings = 13 + kMostStagingUnknowns;

struct PreflightReport {
  // The launcher: where it runs from, and the location it finds for itself there.
  LauncherPlace place = LauncherPlace::kMissing;
  HostPath runsFrom;
  LauncherLocation location;
  FixedText<kProgramVersionCapacity> launcherVersion;  // empty when it carries none
  int ran = 0;  // whether the launcher's run took place (it runs from a drive folder)

  // The settings as the run read them; a key it did not read has no value.
  FixedText<kPathCapacity> settingsPath;  // empty when the run read no settings file
  int settingRead[kSettingCount] = {};
  FixedText<kPathCapacity> settingValues[kSettingCount];
  Lookup settingsFile = Lookup::kFound;
  DryReason settingsReason;
  int settingsLoaded = 0;

  // The records the run writes up to its check, in order (what the check and the patch-info
  // record write depends on what the installer does), and each step's share of all it writes,
  // as the steps' marks file them.
  RecordList runRecords;
  RecordList settingsRecords;
  RecordList installerRecords;  // the arguments' when they do not fit, the start's and the wait's
  RecordList checkRecords;
  RecordList patchInfoRecords;  // the run's, or those a run that passed the check would write

  // The installer, known once the settings are loaded.
  InstallerArguments arguments;
  int argumentsLength = 0;  // the length of the whole arguments, also when they do not fit
  int argumentsFit = 0;
  LaunchText installerPath;  // empty when the run does not get to the start
  LaunchText commandLine;
  const DryStart* start = nullptr;  // the loader's judgement, once the run gets to the start
  ProgramCheck installer = ProgramCheck::kUnknown;

  // The installation check, made when the run gets past the arguments.
  int checked = 0;
  int installed = 0;
  Lookup checkKey = Lookup::kFound;
  DryReason checkReason;

  // The patch-info file, located (and probed) by the run when its check passes, else by the same
  // step of the launcher's run, which the dry platform runs after the check as a probe.
  PatchPath patchInfoPath;
  PatchInfoLocation patchInfo = PatchInfoLocation::kUnused;
  int patchInfoIfPassed = 0;  // located by that probe: where a passed check would record the id
  Lookup patchInfoKeys = Lookup::kFound;  // ProgramPath's and PATCHFILENAME's keys
  DryReason patchInfoKeysReason;
  FileAccess patchInfoAccess = FileAccess::kCannotOpen;
  DryReason patchInfoReason;
  PatchIdRecord patchIdRecord = PatchIdRecord::kNotRead;
  DryReason patchIdReason;

  int runLogProbed = 0;
  FileAccess runLogAccess = FileAccess::kCannotOpen;
  DryReason runLogReason;
  int installerLogProbed = 0;
  FileAccess installerLogAccess = FileAccess::kCannotOpen;
  DryReason installerLogReason;

  // The reboot markers: kFound when set.
  Lookup cbsRebootPending = Lookup::kAbsent;
  Lookup updateRebootRequired = Lookup::kAbsent;
  Lookup renamesPending = Lookup::kAbsent;
  DryReason cbsReason;
  DryReason updateReason;
  DryReason renamesReason;
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

  // Who can change the bundle, and whether it is the one its SHA256SUMS file lists.
  const SumsFile* sums = nullptr;
  StagingReport staging;
  DryReason moreStagingUnknowns;  // "N more items could not be read", when there are more

  // What the run did past what the preflight keeps of it (events, marks, records): the report may
  // miss it, so the run cannot be told.
  int dropped = 0;
  DryReason droppedReason;

  int unknownCount = 0;
  UnknownFinding unknowns[kMostUnknownFindings];
};

/// A host's state for a bundle's settings, without the bundle.
struct StateRequest {
  const char* settingsFile;  // as given ("-" for the standard input), as report text
  unsigned char* settings;   // its bytes, turned into text in place; nullptr when unreadable
  size_t size;
  const char* reason;  // why this user may not read it, when `settings` is nullptr
};

/// Fills `report` with a host's state for the settings `request` gives: the launcher's own
/// settings load, installation check and patch-info file location over the dry platform with
/// the settings served from the text, whether the patch-info file holds the patch id, and the
/// reboot markers. Writes nothing.
void InspectState(const StateRequest& request, PreflightReport* report);
/// The status of a host's state: 1 when the settings do not load, 77 when whether it is installed
/// could not be told, else 2 when installed and 0 when not.
int DecideStateStatus(const PreflightReport& report);
/// Whether the hotfix is recorded: kFound when the patch-info file holds the patch id, kAbsent
/// when it does not or is not there, kUnknown when that could not be read or no patch-info file
/// is used (no ProgramPath); `reason` says why it is not known.
Lookup PatchIdRecordedOnHost(const PreflightReport& report, const char** reason);

/// Fills the run's findings in `report` from the run just made over the dry platform: the marks of
/// its steps (each with what it decided and the records written since the one before), and the
/// journal of what it read and opened.
void ReadRun(PreflightReport* report);
/// Fills `report` with every finding for the launcher that `request` names: runs the launcher's
/// own run over the dry platform with the request's command tail, then reads what the run left
/// open (the patch-info file, the reboot markers), then checks who can change the bundle and
/// sets its files against the sums file, writing nothing.
void InspectBundle(const PreflightRequest& request, PreflightReport* report);
/// Whether a passed check would leave the patch-info file as it is worth keeping: no patch-info
/// file is used, or it holds the patch id already.
int PatchIdRecorded(const PreflightReport& report);
/// Whether a reboot marker is set: kFound, kAbsent, or kUnknown when none is known to be set and
/// one could not be read.
Lookup RebootPending(const PreflightReport& report);
/// The exit status the findings give: 4 for any staging finding, else 77 for a staging item that
/// could not be read or a run that did more than the preflight can follow, else decided in the
/// order the launcher meets them; 77 when a finding that could not be told decides it.
int DecidePreflightStatus(const PreflightReport& report);
