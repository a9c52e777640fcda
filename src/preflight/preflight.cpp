// Gathering the preflight's findings: the launcher's own run over the dry platform, read back from
// the records it writes and the journal of what it met, and the exit status decided from them.
#include "preflight/preflight.h"

#include <cstdio>
#include <cstring>

#include "check/check.h"
#include "platform/registry.h"
#include "runlog/runlog.h"

const char* const kSettingKeys[kSettingCount] = {"AppName",    "DaziveID",    "MicrosoftRegKey",
                                                 "RegKeyName", "RegKeyValue", "RunParams"};

namespace {

// The launcher a host's state names in its records, which has no bundle of its own.
constexpr char kStateLauncherPath[] = "C:\\hotfix\\setup";

// Places in kSettingKeys.
constexpr int kAppName = 0;
constexpr int kRunParams = 5;

const DryEvent& EventAt(int index) { return DryRunJournal().events[index]; }

// The first key opened in events [from, to), of `path` when it is given; -1 when there is none.
int FindKeyOpen(int from, int to, const char* path) {
  for (int i = from; i < to; ++i) {
    const DryEvent& event = EventAt(i);
    if (event.kind == DryEventKind::kKeyOpen &&
        (path == nullptr || strcmp(event.path.text, path) == 0)) {
      return i;
    }
  }
  return -1;
}

// The open of `path` in `mode` among events [0, to); the journal notes each once.
const DryEvent* FindFileOpen(int to, const char* path, TextFileMode mode) {
  for (int i = 0; i < to; ++i) {
    const DryEvent& event = EventAt(i);
    if (event.kind == DryEventKind::kFileOpen && event.mode == mode &&
        strcmp(event.path.text, path) == 0) {
      return &event;
    }
  }
  return nullptr;
}

void CopyRecords(const RecordList& from, int begin, int end, RecordList* to) {
  to->count = 0;
  for (int i = begin; i < end && i < from.count; ++i) to->records[to->count++] = from.records[i];
}

// A path the report gives as empty has no host path either.
void LocateGivenPath(const char* path, HostPath* hostPath) {
  if (path[0] != '\0') LocateHostPath(path, hostPath->text, kHostPathCapacity);
}

// The settings as the run's reads gave them, and whether their file could be read at all.
void ReadSettings(int runEvents, PreflightReport* report) {
  for (int i = 0; i < runEvents; ++i) {
    const DryEvent& event = EventAt(i);
    if (event.kind != DryEventKind::kSettingRead) continue;
    if (report->settingsPath.text[0] == '\0') CopyText(&report->settingsPath, event.path.text);
    for (int key = 0; key < kSettingCount; ++key) {
      if (strcmp(event.key.text, kSettingKeys[key]) != 0) continue;
      report->settingRead[key] = 1;
      CopyText(&report->settingValues[key], event.value.text);
    }
    if (event.lookup == Lookup::kUnknown) {
      report->settingsFile = Lookup::kUnknown;
      report->settingsReason = event.reason;
    }
  }
}

// The installer as the run would start it. A run that the arguments end gets no further; its
// installer path is composed as the start would compose it.
void ReadInstaller(const PreflightRequest& request, PreflightReport* report) {
  const char* extraSwitches = report->settingValues[kRunParams].text;
  AssembleInstallerArguments(extraSwitches, request.commandTail, &report->arguments);
  report->argumentsLength = static_cast<int>(
      strlen(kInstallerArgumentsHead) + strlen(kInstallerLogPath) + 2 + strlen(extraSwitches) +
      (extraSwitches[0] != '\0' ? 1 : 0) + strlen(request.commandTail));
  const DryStart& start = DryRunJournal().start;
  if (start.attempted) {
    report->start = &start;
    report->installer = start.check;
    CopyText(&report->installerPath, start.path.text);
    CopyText(&report->commandLine, start.commandLine.text);
  } else {
    LaunchText unused;
    ComposeInstallerCommand(report->location.directory.text, report->settingValues[kAppName].text,
                            "", &report->installerPath, &unused);
  }
}

// Shares the run's records out to the steps that wrote them: the settings' record or the
// arguments' before any banner; after it the start's three when it failed, then the check's, or
// the patch-info file's when the check passed (it writes none then).
void SplitRecords(PreflightReport* report) {
  const RecordList& all = report->runRecords;
  int banner = 0;
  while (banner < all.count && strcmp(all.records[banner].who.text, kBannerTop) != 0) ++banner;
  if (banner == all.count) {
    report->settingsLoaded =
        all.count == 1 && strcmp(all.records[0].message.text, kArgumentsTooLong) == 0;
    CopyRecords(all, 0, all.count,
                report->settingsLoaded ? &report->installerRecords : &report->settingsRecords);
    return;
  }
  report->settingsLoaded = 1;
  report->argumentsFit = 1;
  int next = banner + 3;
  const DryStart& start = DryRunJournal().start;
  if (start.attempted && start.check != ProgramCheck::kStarts &&
      start.check != ProgramCheck::kUnknown) {
    CopyRecords(all, next, next + 3, &report->installerRecords);
    next += 3;
  }
  report->checked = 1;
  CopyRecords(all, next, all.count,
              report->installed ? &report->patchInfoRecords : &report->checkRecords);
  // What the check and what follows it write depends on what the installer does meanwhile.
  report->runRecords.count = next;
}

// The check's key, the first the run opens; the check passed when the run went on to read where
// the patch-info file lies.
void ReadCheck(int runEvents, PreflightReport* report, int* located) {
  int check = FindKeyOpen(0, runEvents, nullptr);
  *located = check >= 0 ? FindKeyOpen(check + 1, runEvents, kServerKey) : -1;
  report->installed = *located >= 0;
  if (check >= 0 && EventAt(check).lookup == Lookup::kUnknown) {
    report->checkKey = Lookup::kUnknown;
    report->checkReason = EventAt(check).reason;
  }
}

// Whether the file holds a line equal to the patch id, read in text mode as the launcher reads
// its files, so that the CR LF it writes after each id ends the line.
PatchIdRecord FindPatchId(const char* path, const char* patchId, DryReason* reason) {
  TextFile* file = OpenTextFile(path, TextFileMode::kRead);
  if (file == nullptr) {
    const DryEvent* open = FindFileOpen(DryRunJournal().count, path, TextFileMode::kRead);
    if (open == nullptr || open->access != FileAccess::kUnknown) return PatchIdRecord::kNotRead;
    *reason = open->reason;
    return PatchIdRecord::kUnknown;
  }
  size_t idLength = strlen(patchId);
  // Room for the longest id and its line feed: a longer line comes in pieces, none of which can
  // be a whole line equal to the id.
  char piece[kPathCapacity + 2];
  bool lineStart = true;
  PatchIdRecord found = PatchIdRecord::kNotHeld;
  while (found == PatchIdRecord::kNotHeld && ReadTextLine(file, piece, sizeof piece)) {
    size_t length = strlen(piece);
    bool lineEnds = length > 0 && piece[length - 1] == '\n';
    if (lineStart && length - (lineEnds ? 1 : 0) == idLength &&
        memcmp(piece, patchId, idLength) == 0) {
      found = PatchIdRecord::kHeld;
    }
    lineStart = lineEnds;
  }
  CloseTextFile(file);
  return found;
}

// Where the patch id goes, whether that file opens for appending and whether it holds the id
// already. A run whose check passed located and opened it (its events from `located` on); for any
// other, the run's step that would is run now, its records kept apart from the run's.
void ReadPatchInfo(int runEvents, int located, PreflightReport* report) {
  int before = DryRunJournal().count;
  report->patchInfo = LocatePatchInfoFile(&report->patchInfoPath);
  if (located < 0) {
    RecordPatchInfo(report->location.directory.text, report->location.name.text,
                    report->settingValues[kPatchIdSetting].text);
    TakeRecords(report->settingsLoaded ? &report->patchInfoRecords : nullptr);
  }
  // Its keys as the run read them, or as the reads just made did.
  int from = located >= 0 ? located : before;
  int to = located >= 0 ? runEvents : DryRunJournal().count;
  for (int i = from; i < to; ++i) {
    const DryEvent& event = EventAt(i);
    if (event.kind == DryEventKind::kKeyOpen && event.lookup == Lookup::kUnknown) {
      report->patchInfoKeys = Lookup::kUnknown;
      report->patchInfoKeysReason = event.reason;
    }
  }
  if (report->patchInfo == PatchInfoLocation::kUnused) return;
  LocateGivenPath(report->patchInfoPath.text, &report->patchInfoHostPath);
  const DryEvent* open =
      FindFileOpen(DryRunJournal().count, report->patchInfoPath.text, TextFileMode::kAppend);
  if (report->patchInfo == PatchInfoLocation::kTooLong || open == nullptr) {
    CopyText(&report->patchInfoReason, "its path would pass 259 characters");
    return;
  }
  report->patchInfoAccess = open->access;
  report->patchInfoReason = open->reason;
  if (report->settingsLoaded) {
    report->patchIdRecord =
        FindPatchId(report->patchInfoPath.text, report->settingValues[kPatchIdSetting].text,
                    &report->patchIdReason);
  }
}

// The run log as the run's records opened it (appending, or writing at its end when that is
// refused), and the installer log as its reset did.
void ReadLogs(int runEvents, PreflightReport* report) {
  const DryEvent* append = FindFileOpen(runEvents, kRunLogPath, TextFileMode::kAppend);
  const DryEvent* atEnd = FindFileOpen(runEvents, kRunLogPath, TextFileMode::kWriteAtEnd);
  const DryEvent* used =
      append != nullptr && append->access == FileAccess::kCannotOpen && atEnd != nullptr ? atEnd
                                                                                         : append;
  if (used != nullptr) {
    report->runLogProbed = 1;
    report->runLogAccess = used->access;
    report->runLogReason = used->reason;
  }
  const DryEvent* reset = FindFileOpen(runEvents, kInstallerLogPath, TextFileMode::kCreateEmpty);
  if (reset != nullptr) {
    report->installerLogProbed = 1;
    report->installerLogAccess = reset->access;
    report->installerLogReason = reset->reason;
  }
}

// A key in the registry's system view, and with `value` a value in it with data of any size but
// 0: kFound, kAbsent, or kUnknown when the key could not be read.
Lookup LookUpMarker(const char* path, const char* value, DryReason* reason) {
  int before = DryRunJournal().count;
  RegistryKey* key = OpenMachineKey(path, RegistryView::kSystem);
  if (key == nullptr) {
    if (DryRunJournal().count == before) return Lookup::kAbsent;
    *reason = EventAt(before).reason;
    return EventAt(before).lookup;
  }
  uint32_t type = 0;
  uint32_t size = 0;
  bool found =
      value == nullptr || (QueryRegistryValue(key, value, &type, nullptr, &size) && size > 0);
  CloseRegistryKey(key);
  return found ? Lookup::kFound : Lookup::kAbsent;
}

void ReadRebootMarkers(PreflightReport* report) {
  report->cbsRebootPending = LookUpMarker(kCbsRebootKey, nullptr, &report->cbsReason);
  report->updateRebootRequired = LookUpMarker(kUpdateRebootKey, nullptr, &report->updateReason);
  report->renamesPending =
      LookUpMarker(kSessionManagerKey, kPendingRenamesValue, &report->renamesReason);
}

void NoteUnknown(PreflightReport* report, bool unknown, const char* item, const char* reason) {
  if (!unknown || report->unknownCount == kMostUnknownFindings) return;
  report->unknowns[report->unknownCount++] = {item, reason};
}

void NoteUnknown(PreflightReport* report, bool unknown, const char* item, const DryReason& reason) {
  NoteUnknown(report, unknown, item, reason.text);
}

void ListUnknowns(PreflightReport* report) {
  const PreflightReport& r = *report;
  NoteUnknown(report, r.settingsFile == Lookup::kUnknown, "settings", r.settingsReason);
  if (r.start != nullptr) {
    NoteUnknown(report, r.installer == ProgramCheck::kUnknown, "installer.file", r.start->reason);
  }
  NoteUnknown(report, r.checkKey == Lookup::kUnknown, "check.installed", r.checkReason);
  NoteUnknown(report, r.patchInfoKeys == Lookup::kUnknown, "patch_info.path",
              r.patchInfoKeysReason);
  NoteUnknown(
      report,
      r.patchInfo == PatchInfoLocation::kLocated && r.patchInfoAccess == FileAccess::kUnknown,
      "patch_info.access", r.patchInfoReason);
  NoteUnknown(report, r.patchIdRecord == PatchIdRecord::kUnknown, "patch_info.holds_patch_id",
              r.patchIdReason);
  NoteUnknown(report, r.runLogProbed && r.runLogAccess == FileAccess::kUnknown, "run_log.access",
              r.runLogReason);
  NoteUnknown(report, r.installerLogProbed && r.installerLogAccess == FileAccess::kUnknown,
              "installer_log.access", r.installerLogReason);
  NoteUnknown(report, r.cbsRebootPending == Lookup::kUnknown, "reboot_pending.reboot_pending_key",
              r.cbsReason);
  NoteUnknown(report, r.updateRebootRequired == Lookup::kUnknown,
              "reboot_pending.reboot_required_key", r.updateReason);
  NoteUnknown(report, r.renamesPending == Lookup::kUnknown,
              "reboot_pending.pending_file_rename_operations", r.renamesReason);
  const StagingReport& staging = r.staging;
  for (int i = 0; i < staging.unknownCount && i < kMostStagingUnknowns; ++i) {
    NoteUnknown(report, true, "staging", staging.unknowns[i].summary.text);
  }
  int more = staging.unknownCount - kMostStagingUnknowns;
  if (more > 0) {
    snprintf(report->moreStagingUnknowns.text, sizeof report->moreStagingUnknowns.text,
             "%d more items could not be read", more);
    NoteUnknown(report, true, "staging", report->moreStagingUnknowns);
  }
}

// Who can change the bundle, and whether its files are those the sums file lists. A sums file this
// user may not read leaves the staging unknown.
void CheckBundleStaging(const PreflightRequest& request, PreflightReport* report) {
  const SumsFile* sums = request.sums;
  report->sums = sums;
  bool listed = sums != nullptr && sums->list != nullptr;
  CheckStaging(request.folder, listed, &report->staging);
  if (listed) CompareSums(*sums->list, request.folder, &report->staging);
  if (sums != nullptr && !listed) {
    AddStagingUnknown(&report->staging, "", sums->shown.text, sums->reason.text);
  }
}

}  // namespace

void InspectBundle(const PreflightRequest& request, PreflightReport* report) {
  char modulePath[kHostPathCapacity];
  report->place = LocateLauncher(request.folder, request.launcherFile, modulePath,
                                 report->runsFrom.text, kHostPathCapacity);
  ReadProgramVersion(request.folder, request.launcherFile, &report->launcherVersion);
  // The launcher finds its location for itself, from the module path the dry platform gives it.
  StartDryRun(modulePath);
  GetLauncherLocation(&report->location);
  TakeRecords(nullptr);
  int located = -1;
  // A Linux launcher outside the prefix's drive folders says so and touches nothing.
  report->ran = report->place == LauncherPlace::kInDrive;
  if (report->ran) RunInstall(request.commandTail);
  TakeRecords(&report->runRecords);
  int runEvents = DryRunJournal().count;
  ReadSettings(runEvents, report);
  ReadCheck(runEvents, report, &located);
  SplitRecords(report);
  if (report->settingsLoaded) ReadInstaller(request, report);
  ReadPatchInfo(runEvents, located, report);
  ReadLogs(runEvents, report);

  LocateGivenPath(report->location.directory.text, &report->launcherHostPath);
  LocateGivenPath(report->settingsPath.text, &report->settingsHostPath);
  LocateGivenPath(report->installerPath.text, &report->installerHostPath);
  LocateGivenPath(kRunLogPath, &report->runLogHostPath);
  LocateGivenPath(kInstallerLogPath, &report->installerLogHostPath);

  ReadRebootMarkers(report);
  report->installation = ReadInstallationActivity();
  report->freeSpaceKnown = ReadFreeSpace(request.folder, &report->freeSpace);
  CheckBundleStaging(request, report);
  ListUnknowns(report);
}

void InspectState(const StateRequest& request, PreflightReport* report) {
  // No launcher: the settings load, the check and the patch-info step of the launcher's own run
  // name this nominal one in their records, and read the settings from the text given.
  StartDryRun(kStateLauncherPath);
  ServeSettingsText(request.settings, request.size);
  if (request.settings != nullptr) {
    InstallerSettings settings;
    report->settingsLoaded = LoadInstallerSettings(&report->location, &settings);
    TakeRecords(&report->settingsRecords);
    ReadSettings(DryRunJournal().count, report);
    if (report->settingsLoaded) {
      report->checked = 1;
      int before = DryRunJournal().count;
      report->installed = CheckInstalled(
          report->location.directory.text, report->location.name.text, settings.checkKey.text,
          settings.checkValueName.text, settings.expectedValue.text, settings.patchId.text);
      TakeRecords(&report->checkRecords);
      int check = FindKeyOpen(before, DryRunJournal().count, nullptr);
      if (check >= 0 && EventAt(check).lookup == Lookup::kUnknown) {
        report->checkKey = Lookup::kUnknown;
        report->checkReason = EventAt(check).reason;
      }
      ReadPatchInfo(DryRunJournal().count, -1, report);
    }
  } else {
    report->settingsFile = Lookup::kUnknown;
    CopyText(&report->settingsReason, request.reason);
  }
  ServeSettingsText(nullptr, 0);
  CopyText(&report->settingsPath, request.settingsFile);
  if (strcmp(request.settingsFile, "-") != 0) {
    CopyText(&report->settingsHostPath, request.settingsFile);
  }
  ReadRebootMarkers(report);
  ListUnknowns(report);
}

int DecideStateStatus(const PreflightReport& report) {
  if (!report.settingsLoaded) {
    return report.settingsFile == Lookup::kUnknown ? kPreflightCannotTell : kStateSettingsBroken;
  }
  if (report.checkKey == Lookup::kUnknown) return kPreflightCannotTell;
  return report.installed ? kStateInstalled : kStateNotInstalled;
}

Lookup PatchIdRecordedOnHost(const PreflightReport& report, const char** reason) {
  *reason = nullptr;
  if (!report.settingsLoaded) {
    *reason = "the settings did not load";
  } else if (report.patchInfoKeys == Lookup::kUnknown) {
    *reason = report.patchInfoKeysReason.text;
  } else if (report.patchInfo == PatchInfoLocation::kUnused) {
    *reason = "not used: ProgramPath is not in the registry";
  } else if (report.patchIdRecord == PatchIdRecord::kUnknown) {
    *reason = report.patchIdReason.text;
  }
  return *reason != nullptr                             ? Lookup::kUnknown
         : report.patchIdRecord == PatchIdRecord::kHeld ? Lookup::kFound
                                                        : Lookup::kAbsent;
}

int PatchIdRecorded(const PreflightReport& report) {
  return report.patchInfo == PatchInfoLocation::kUnused ||
         report.patchIdRecord == PatchIdRecord::kHeld;
}

Lookup RebootPending(const PreflightReport& report) {
  Lookup markers[] = {report.cbsRebootPending, report.updateRebootRequired, report.renamesPending};
  Lookup pending = Lookup::kAbsent;
  for (Lookup marker : markers) {
    if (marker == Lookup::kFound) return Lookup::kFound;
    if (marker == Lookup::kUnknown) pending = Lookup::kUnknown;
  }
  return pending;
}

int DecidePreflightStatus(const PreflightReport& report) {
  // Whoever can change the bundle decides what would run as administrator, whatever it would do.
  if (report.staging.findingCount > 0) return kPreflightUnsafe;
  if (report.staging.unknownCount > 0) return kPreflightCannotTell;
  if (!report.ran) return kPreflightCannotRun;
  if (!report.settingsLoaded) {
    return report.settingsFile == Lookup::kUnknown ? kPreflightCannotTell : kPreflightCannotRun;
  }
  if (!report.argumentsFit) return kPreflightCannotRun;
  if (report.checkKey == Lookup::kUnknown) return kPreflightCannotTell;
  // The check decides before the launch does: an installed hotfix ends the run with 0 even when
  // its installer is gone, and the run appends the id, which is worth it only when it is missing.
  if (report.installed) {
    if (report.patchInfoKeys == Lookup::kUnknown ||
        report.patchIdRecord == PatchIdRecord::kUnknown) {
      return kPreflightCannotTell;
    }
    return PatchIdRecorded(report) ? kPreflightInstalled : kPreflightReady;
  }
  if (report.installer == ProgramCheck::kUnknown) return kPreflightCannotTell;
  if (report.installer != ProgramCheck::kStarts) return kPreflightCannotRun;
  switch (RebootPending(report)) {
    case Lookup::kFound:
      return kPreflightRebootPending;
    case Lookup::kUnknown:
      return kPreflightCannotTell;
    case Lookup::kAbsent:
      break;
  }
  return kPreflightReady;
}
