// Gathering the preflight's findings: the launcher's own run over the dry platform, read back from
// the records it writes and the journal of what it met, and the exit status decided from them.
#include "preflight/preflight.h"

#include <cstdio>
#include <cstring>

#include "platform/registry.h"
#include "runlog/runlog.h"

namespace {

// The launcher a host's state names in its records, which has no bundle of its own.
constexpr char kStateLauncherPath[] = "C:\\hotfix\\setup";

const DryEvent& EventAt(int index) { return DryRunJournal().events[index]; }

// The open of `path` in `mode`; the journal notes each once. nullptr when it noted none.
const DryEvent* FindFileOpen(const char* path, TextFileMode mode) {
  for (int i = 0; i < DryRunJournal().count; ++i) {
    const DryEvent& event = EventAt(i);
    if (event.kind == DryEventKind::kFileOpen && event.mode == mode &&
        strcmp(event.path.text, path) == 0) {
      return &event;
    }
  }
  return nullptr;
}

// The first key open of a step's events, [from, to), that could not be read; nullptr when none.
const DryEvent* FindUnknownKey(int from, int to) {
  for (int i = from; i < to; ++i) {
    const DryEvent& event = EventAt(i);
    if (event.kind == DryEventKind::kKeyOpen && event.lookup == Lookup::kUnknown) return &event;
  }
  return nullptr;
}

void AddRecord(const ReportedRecord& record, RecordList* list) {
  if (list->count < kMostRecords) list->records[list->count++] = record;
}

// A path the report gives as empty has no host path either.
void LocateGivenPath(const char* path, HostPath* hostPath) {
  if (path[0] != '\0') LocateHostPath(path, hostPath->text, kHostPathCapacity);
}

// The settings as the run's reads, the events before the settings' mark, gave them, and whether
// their file could be read at all.
void ReadSettings(const DryMark& mark, PreflightReport* report) {
  report->settingsLoaded = mark.decided;
  CopyText(&report->location.directory, mark.directory.text);
  CopyText(&report->location.name, mark.name.text);
  for (int i = 0; i < mark.events; ++i) {
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

// The patch-info file where the run located it: its keys as that step read them, and how the
// open of the file would go.
void ReadPatchInfoLocation(const DryMark& mark, int from, PreflightReport* report) {
  report->patchInfo = static_cast<PatchInfoLocation>(mark.decided);
  report->patchInfoIfPassed = mark.probe;
  CopyText(&report->patchInfoPath, mark.path.text);
  if (const DryEvent* unread = FindUnknownKey(from, mark.events)) {
    report->patchInfoKeys = Lookup::kUnknown;
    report->patchInfoKeysReason = unread->reason;
  }
  if (report->patchInfo == PatchInfoLocation::kUnused) return;
  LocateGivenPath(report->patchInfoPath.text, &report->patchInfoHostPath);
  if (report->patchInfo == PatchInfoLocation::kTooLong) {
    CopyText(&report->patchInfoReason, "its path would pass 259 characters");
    return;
  }
  const DryEvent* open = FindFileOpen(report->patchInfoPath.text, TextFileMode::kAppend);
  if (open == nullptr) {
    // The journal was full: the run did more than the preflight follows, which the report says.
    report->patchInfoAccess = FileAccess::kUnknown;
    CopyText(&report->patchInfoReason, "the open was not noted");
    return;
  }
  report->patchInfoAccess = open->access;
  report->patchInfoReason = open->reason;
}

// The records the step of mark `at` wrote: those written after the mark before it; the records
// after the last mark are its step's.
bool WrittenBy(const ReportedRecord& record, int at, int marks) {
  return record.mark == at || (at == marks - 1 && record.mark > at);
}

}  // namespace

void ReadRun(PreflightReport* report) {
  const DryJournal& journal = DryRunJournal();
  const RecordList& records = WrittenRecords();
  for (int at = 0; at < journal.markCount; ++at) {
    const DryMark& mark = journal.marks[at];
    int from = at > 0 ? journal.marks[at - 1].events : 0;
    RecordList* section = nullptr;
    switch (mark.step) {
      case RunStep::kSettingsRead:
        ReadSettings(mark, report);
        section = &report->settingsRecords;
        break;
      case RunStep::kArgumentsAssembled:
        report->argumentsFit = mark.decided;
        report->argumentsLength = mark.length;
        CopyText(&report->arguments, mark.text.text);
        // The banner, when they fit, is the run log's alone.
        if (!mark.decided) section = &report->installerRecords;
        break;
      case RunStep::kInstallerStarted:
        report->start = &journal.start;
        report->installer = journal.start.check;
        CopyText(&report->installerPath, mark.path.text);
        CopyText(&report->commandLine, mark.text.text);
        section = &report->installerRecords;
        break;
      case RunStep::kWaitEnded:
        section = &report->installerRecords;
        break;
      case RunStep::kCheckDecided:
        report->checked = 1;
        report->installed = mark.decided;
        if (const DryEvent* unread = FindUnknownKey(from, mark.events)) {
          report->checkKey = Lookup::kUnknown;
          report->checkReason = unread->reason;
        }
        section = &report->checkRecords;
        break;
      case RunStep::kPatchInfoLocated:
        ReadPatchInfoLocation(mark, from, report);
        section = &report->patchInfoRecords;
        break;
      case RunStep::kPatchInfoRecorded:
        section = &report->patchInfoRecords;
        break;
      case RunStep::kInstallerLogMerged:
        break;
    }
    for (int i = 0; i < records.count; ++i) {
      const ReportedRecord& record = records.records[i];
      if (!WrittenBy(record, at, journal.markCount)) continue;
      if (section != nullptr) AddRecord(record, section);
      // What the check and what follows it write depends on what the installer does meanwhile.
      if (!report->checked) AddRecord(record, &report->runRecords);
    }
  }
  report->dropped = journal.dropped + DroppedRecords();
  if (report->dropped > 0) {
    snprintf(report->droppedReason.text, sizeof report->droppedReason.text,
             "the run did more than the preflight can follow: %d more reads, opens, steps or "
             "records than it keeps",
             report->dropped);
  }
}

namespace {

// Whether the file holds a line equal to the patch id, read in text mode as the launcher reads
// its files, so that the CR LF it writes after each id ends the line.
PatchIdRecord FindPatchId(const char* path, const char* patchId, DryReason* reason) {
  TextFile* file = OpenTextFile(path, TextFileMode::kRead);
  if (file == nullptr) {
    const DryEvent* open = FindFileOpen(path, TextFileMode::kRead);
    if (open != nullptr && open->access != FileAccess::kUnknown) return PatchIdRecord::kNotRead;
    if (open == nullptr) {
      CopyText(reason, "the open was not noted");
    } else {
      *reason = open->reason;
    }
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

// Whether the patch-info file the run located holds the patch id already.
void ReadPatchIdRecord(PreflightReport* report) {
  if (!report->settingsLoaded || report->patchInfo != PatchInfoLocation::kLocated) return;
  report->patchIdRecord = FindPatchId(
      report->patchInfoPath.text, report->settingValues[kPatchIdKey].text, &report->patchIdReason);
}

// The run log as the run's records opened it, by the last open the run made of it (in whichever
// mode the run log's writer took last), and the installer log as its reset did.
void ReadLogs(PreflightReport* report) {
  const DryEvent* used = nullptr;
  for (int i = 0; i < DryRunJournal().count; ++i) {
    const DryEvent& event = EventAt(i);
    if (event.kind == DryEventKind::kFileOpen && event.mode != TextFileMode::kRead &&
        strcmp(event.path.text, kRunLogPath) == 0) {
      used = &event;
    }
  }
  if (used != nullptr) {
    report->runLogProbed = 1;
    report->runLogAccess = used->access;
    report->runLogReason = used->reason;
  }
  const DryEvent* reset = FindFileOpen(kInstallerLogPath, TextFileMode::kCreateEmpty);
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
    if (DryRunJournal().count == before) {
      CopyText(reason, "the open was not noted");
      return Lookup::kUnknown;
    }
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
  NoteUnknown(report, r.dropped > 0, "run", r.droppedReason);
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
  ForgetRecords();
  // A Linux launcher outside the prefix's drive folders says so and touches nothing.
  report->ran = report->place == LauncherPlace::kInDrive;
  if (report->ran) RunInstall(request.commandTail);
  ReadRun(report);
  ReadPatchIdRecord(report);
  ReadLogs(report);

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
  ForgetRecords();
  ServeSettingsText(request.settings, request.size);
  if (request.settings != nullptr) {
    InstallerSettings settings;
    if (LoadInstallerSettings(&report->location, &settings)) {
      CheckAndRecordInstall(report->location, settings);
    }
    ReadRun(report);
    ReadPatchIdRecord(report);
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
  if (report.dropped > 0) return kPreflightCannotTell;
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
  // Whatever the run did past what the preflight keeps may decide anything below.
  if (report.dropped > 0) return kPreflightCannotTell;
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
