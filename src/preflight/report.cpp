// The preflight's two report forms over the same findings and the same names for their states. A
// finding that could not be told is "unknown" with its reason in the text, null with a reason
// beside it in JSON.
#include "preflight/report.h"

#include <charconv>
#include <cstring>

#include "preflight/json_writer.h"
#include "runlog/runlog.h"

namespace {

const char* VerdictOf(int status) {
  switch (status) {
    case kPreflightReady:
      return "ready";
    case kPreflightInstalled:
      return "already installed";
    case kPreflightRebootPending:
      return "reboot pending";
    case kPreflightUnsafe:
      return "unsafe";
    case kPreflightCannotTell:
      return "cannot tell";
  }
  return "cannot run";
}

// The run would append the id to a patch-info file it cannot open: it records the failure and
// still ends with 0, so the id stays unrecorded.
bool IdUnrecordable(const PreflightReport& report) {
  return report.patchInfo != PatchInfoLocation::kUnused &&
         report.patchInfoAccess == FileAccess::kCannotOpen;
}

// Whether the patch-info file would open could not be told (such as a file another program holds
// open without sharing it): the launcher may or may not record the id.
bool IdRecordUnknown(const PreflightReport& report) {
  return report.patchInfo != PatchInfoLocation::kUnused &&
         report.patchInfoAccess == FileAccess::kUnknown;
}

// Installed, and the launcher would append the id that the patch-info file lacks.
bool RecordsOnly(const PreflightReport& report) {
  return report.installed && !PatchIdRecorded(report) && !IdUnrecordable(report) &&
         !IdRecordUnknown(report);
}

const char* NextStepOf(const PreflightReport& report, int status) {
  switch (status) {
    case kPreflightReady:
      if (report.installed && !PatchIdRecorded(report) && IdRecordUnknown(report)) {
        return "run the launcher; the hotfix is installed, and the launcher would run the "
               "installer again and then append the id, if it can open the patch-info file, which "
               "could not be told (see the unknown lines).";
      }
      if (RecordsOnly(report)) {
        return "run the launcher; the hotfix is installed, and the launcher would run the "
               "installer again and then append the id the patch-info file lacks.";
      }
      if (IdUnrecordable(report)) {
        return report.installed
                   ? "mend the patch-info file first; the hotfix is installed, and the launcher "
                     "would run the installer again and fail to append the id."
                   : "run the launcher; it would start the installer, and the hotfix is not "
                     "installed. Its id would not be recorded: the patch-info file cannot be "
                     "opened.";
      }
      return report.patchInfo == PatchInfoLocation::kUnused
                 ? "run the launcher; it would start the installer, and the hotfix is not "
                   "installed. No patch id would be recorded: ProgramPath is not in the registry."
                 : "run the launcher; it would start the installer, and the hotfix is not "
                   "installed.";
    case kPreflightInstalled:
      return report.patchInfo == PatchInfoLocation::kUnused
                 ? "skip this host; the hotfix is installed, and no patch-info file is used "
                   "(ProgramPath is not in the registry)."
                 : "skip this host; the hotfix is installed, and the patch-info file holds its "
                   "id.";
    case kPreflightRebootPending:
      return "reboot this host first, then run the preflight again.";
    case kPreflightUnsafe:
      return "someone other than an administrator can change what would run as administrator; "
             "do not run the launcher before what the staging lines name is mended.";
    case kPreflightCannotTell:
      return "the preflight cannot tell; run it as an administrator or root. It could not read "
             "what the lines marked unknown name.";
  }
  return "do not run the launcher here; it would stop before the installer or fail to start it. "
         "Mend what the lines above name.";
}

// What the patch-info file holds, after its access in the text report.
const char* PatchIdRecordNote(PatchIdRecord record) {
  switch (record) {
    case PatchIdRecord::kHeld:
      return ", holds the patch id";
    case PatchIdRecord::kNotHeld:
      return ", lacks the patch id";
    case PatchIdRecord::kUnknown:
      return ", holds the patch id: unknown";
    case PatchIdRecord::kNotRead:
      break;
  }
  return "";
}

// The installer file as the loader would take it; nullptr when it is not known.
const char* ProgramCheckName(const PreflightReport& report) {
  if (report.start == nullptr) return nullptr;
  switch (report.installer) {
    case ProgramCheck::kStarts:
      return "regular file";
    case ProgramCheck::kMissing:
      return "missing";
    case ProgramCheck::kNotRegular:
      return "not a regular file";
    case ProgramCheck::kNotExecutable:
      return "not executable";
    case ProgramCheck::kNotProgram:
      return "not a program";
    case ProgramCheck::kUnknown:
      break;
  }
  return nullptr;
}

const char* AccessName(FileAccess access) {
  switch (access) {
    case FileAccess::kOpens:
      return "opens";
    case FileAccess::kWouldCreate:
      return "would be created";
    case FileAccess::kCannotOpen:
      return "cannot be opened";
    case FileAccess::kUnknown:
      break;
  }
  return nullptr;
}

// The access of a file the report names, or nullptr when it is not known.
const char* PatchInfoAccessName(const PreflightReport& report) {
  return report.patchInfo == PatchInfoLocation::kUnused ? "not used"
                                                        : AccessName(report.patchInfoAccess);
}

const char* InstallationName(InstallationActivity activity) {
  switch (activity) {
    case InstallationActivity::kNone:
      return "no";
    case InstallationActivity::kRunning:
      return "yes";
    case InstallationActivity::kNotChecked:
      break;
  }
  return "not checked";
}

const char* LookupName(Lookup lookup) {
  switch (lookup) {
    case Lookup::kFound:
      return "yes";
    case Lookup::kAbsent:
      return "no";
    case Lookup::kUnknown:
      break;
  }
  return "unknown";
}

const char* kNotRun = "not opened: the launcher would not run";

// ---- text

void PrintRecords(const RecordList& list, const ReportOutput& out) {
  for (int i = 0; i < list.count; ++i) {
    const ReportedRecord& record = list.records[i];
    PutFormatted(out, "  record: %s, %s %s %s\n", record.who.text, record.where.text,
                 record.what.text, record.message.text);
  }
}

// "<item> (<length> of <limit> characters): <text>", the text last, so that a trailing blank
// is the line's end; a text that does not fit is marked as too long.
void PrintMeasured(const ReportOutput& out, const char* item, const char* text, int length,
                   int capacity, int fits) {
  PutFormatted(out, "%s (%d of %d characters%s): %s\n", item, length, capacity - 1,
               fits ? "" : ", too long", text);
}

// The launcher's version at the end of its line, when it carries one.
void PrintVersion(const PreflightReport& report, const ReportOutput& out) {
  if (report.launcherVersion.text[0] != '\0') {
    PutFormatted(out, ", version %s", report.launcherVersion.text);
  }
  PutText(out, "\n");
}

void PrintLauncherText(const PreflightReport& report, const ReportOutput& out) {
  switch (report.place) {
    case LauncherPlace::kInDrive:
      if (report.location.name.text[0] == '\0') {
        PutFormatted(out,
                     "launcher: runs from %s, whose path it cannot read as a Windows path of at "
                     "most 259 characters\n",
                     report.runsFrom.text);
      } else {
        PutFormatted(out, "launcher: %s%s", report.location.directory.text,
                     report.location.name.text);
        PrintVersion(report, out);
      }
      return;
    case LauncherPlace::kOutsideDrives:
      PutFormatted(out,
                   "launcher: runs from %s, in no drive folder of the prefix %s "
                   "(HOTFIX_LAUNCHER_PREFIX): it would say so on standard error, exit with 255 "
                   "and change nothing",
                   report.runsFrom.text, DrivesPrefix());
      PrintVersion(report, out);
      return;
    case LauncherPlace::kMissing:
      break;
  }
  PutFormatted(out, "launcher: %s: missing\n", report.runsFrom.text);
}

void PrintSettingsText(const PreflightReport& report, const ReportOutput& out) {
  if (report.settingsFile == Lookup::kUnknown) {
    PutFormatted(out, "settings: %s, unknown (%s)\n", report.settingsPath.text,
                 report.settingsReason.text);
  } else {
    PutFormatted(out, "settings: %s, %s\n",
                 report.settingsPath.text[0] != '\0' ? report.settingsPath.text : "(no path)",
                 report.settingsLoaded ? "loaded" : "not loaded");
  }
  for (int i = 0; i < kSettingCount; ++i) {
    if (report.settingRead[i]) {
      PutFormatted(out, "  %s=%s\n", kSettingKeys[i], report.settingValues[i].text);
    }
  }
  PrintRecords(report.settingsRecords, out);
}

void PrintInstallerFileText(const PreflightReport& report, const ReportOutput& out) {
  const char* name = ProgramCheckName(report);
  if (report.start == nullptr) {
    PutText(out, "installer file: not looked at, the run stops before it starts the installer\n");
  } else if (name == nullptr) {
    PutFormatted(out, "installer file: unknown (%s)\n", report.start->reason.text);
  } else if (report.installer == ProgramCheck::kStarts) {
    PutFormatted(out, "installer file: %s\n", name);
  } else {
    PutFormatted(out, "installer file: %s (%s), the start would fail with error %lu\n", name,
                 report.start->reason.text, static_cast<unsigned long>(report.start->error));
  }
}

void PrintInstallText(const PreflightReport& report, const ReportOutput& out) {
  if (!report.settingsLoaded) {
    PutText(out, "installer: not known, the settings did not load\n");
    PutText(out, "check: not evaluated, the settings did not load\n");
    return;
  }
  if (report.start != nullptr) {
    PrintMeasured(out, "installer", report.installerPath.text,
                  static_cast<int>(strlen(report.installerPath.text)), kLaunchFieldCapacity, true);
  } else {
    PutText(out, "installer: not known, the run stops before it starts the installer\n");
  }
  PrintInstallerFileText(report, out);
  PrintMeasured(out, "arguments", report.arguments.text, report.argumentsLength,
                kInstallerArgumentsCapacity, report.argumentsFit);
  if (report.start != nullptr) {
    PrintMeasured(out, "command line", report.commandLine.text,
                  static_cast<int>(strlen(report.commandLine.text)), kLaunchFieldCapacity, true);
  }
  PrintRecords(report.installerRecords, out);
  if (!report.checked) {
    PutText(out, "check: not evaluated, the run stops before it\n");
  } else if (report.checkKey == Lookup::kUnknown) {
    PutFormatted(out, "check: unknown (%s)\n", report.checkReason.text);
  } else {
    PutFormatted(out, "check: %s\n",
                 !report.installed        ? "not installed"
                 : RecordsOnly(report)    ? "installed; the launcher would record the id"
                 : IdUnrecordable(report) ? "installed; the launcher could not record the id"
                 : IdRecordUnknown(report) && !PatchIdRecorded(report)
                     ? "installed; whether the launcher could record the id is not known"
                     : "installed");
  }
  PrintRecords(report.checkRecords, out);
}

void PrintPatchInfoText(const PreflightReport& report, const ReportOutput& out) {
  const char* item =
      report.patchInfoIfPassed ? "patch-info file (if the check passed)" : "patch-info file";
  if (report.patchInfoKeys == Lookup::kUnknown) {
    PutFormatted(out, "%s: unknown (%s)\n", item, report.patchInfoKeysReason.text);
  } else if (report.patchInfo == PatchInfoLocation::kUnused) {
    PutFormatted(out,
                 "%s: not used, ProgramPath is not in the registry; no patch id would be "
                 "recorded\n",
                 item);
  } else {
    const char* access = PatchInfoAccessName(report);
    PutFormatted(out, "%s: %s: %s", item, report.patchInfoPath.text,
                 access != nullptr ? access : "unknown");
    if (access == nullptr || report.patchInfoAccess == FileAccess::kCannotOpen) {
      PutFormatted(out, " (%s)", report.patchInfoReason.text);
    }
    PutFormatted(out, "%s\n", PatchIdRecordNote(report.patchIdRecord));
  }
  PrintRecords(report.patchInfoRecords, out);
}

void PrintLogText(const ReportOutput& out, const char* item, const char* path, int probed,
                  FileAccess access, const DryReason& reason) {
  if (!probed) {
    PutFormatted(out, "%s: %s: %s\n", item, path, kNotRun);
  } else if (access == FileAccess::kUnknown || access == FileAccess::kCannotOpen) {
    PutFormatted(out, "%s: %s: %s (%s)\n", item, path,
                 access == FileAccess::kUnknown ? "unknown" : "cannot be opened", reason.text);
  } else {
    PutFormatted(out, "%s: %s: %s\n", item, path, AccessName(access));
  }
}

// The staging's verdict: unsafe with any finding, else unknown with any item not read.
const char* StagingVerdict(const StagingReport& staging) {
  return staging.findingCount > 0 ? "unsafe" : staging.unknownCount > 0 ? "unknown" : "safe";
}

// A staging item by its platform path, with its host path beside it where that differs.
void PrintStagingItem(const ReportOutput& out, const char* path, const char* hostPath) {
  if (path[0] == '\0') {
    PutFormatted(out, "  %s", hostPath);
  } else if (strcmp(path, hostPath) == 0 || hostPath[0] == '\0') {
    PutFormatted(out, "  %s", path);
  } else {
    PutFormatted(out, "  %s (%s)", path, hostPath);
  }
}

void PrintStagingText(const PreflightReport& report, const ReportOutput& out) {
  const StagingReport& staging = report.staging;
  PutFormatted(out, "staging: %s", StagingVerdict(staging));
  if (staging.findingCount > 0) {
    PutFormatted(out, ": %d finding%s", staging.findingCount, staging.findingCount == 1 ? "" : "s");
  }
  PutFormatted(out, " (%d files", staging.files);
  if (report.sums != nullptr) PutFormatted(out, ", sums file %s", report.sums->shown.text);
  PutText(out, ")\n");
  for (int i = 0; i < staging.findingCount && i < kMostStagingFindings; ++i) {
    const StagingFinding& finding = staging.findings[i];
    PrintStagingItem(out, finding.path.text, finding.hostPath.text);
    PutFormatted(out, ": %s%s%s\n", finding.who.text, finding.who.text[0] != '\0' ? " " : "",
                 finding.how.text);
  }
  if (staging.findingCount > kMostStagingFindings) {
    PutFormatted(out, "  and %d more findings\n", staging.findingCount - kMostStagingFindings);
  }
}

// ---- JSON

void WriteRecords(JsonWriter* json, const RecordList& list) {
  OpenJsonArray(json, "records");
  for (int i = 0; i < list.count; ++i) {
    const ReportedRecord& record = list.records[i];
    OpenJsonObject(json, nullptr);
    WriteJsonText(json, "who", record.who.text);
    WriteJsonText(json, "where", record.where.text);
    WriteJsonText(json, "what", record.what.text);
    WriteJsonText(json, "message", record.message.text);
    CloseJsonObject(json);
  }
  CloseJsonArray(json);
}

// A host path that cannot be told, or of a path the report does not give, is null.
void WriteHostPath(JsonWriter* json, const HostPath& hostPath) {
  WriteJsonText(json, "host_path", hostPath.text[0] != '\0' ? hostPath.text : nullptr);
}

void WriteLength(JsonWriter* json, const char* key, const char* limitKey, int length,
                 int capacity) {
  WriteJsonNumber(json, key, length);
  WriteJsonNumber(json, limitKey, capacity - 1);
}

// A text finding and, beside it as "<key>_reason", why it is null or what went wrong.
void WriteFinding(JsonWriter* json, const char* key, const char* value, const char* reason) {
  WriteJsonText(json, key, value);
  char reasonKey[64];
  CopyBounded(reasonKey, sizeof reasonKey, key);
  AppendBounded(reasonKey, sizeof reasonKey, "_reason");
  WriteJsonText(json, reasonKey, reason);
}

// A text that is empty when there is none is null in JSON.
void WriteOptionalText(JsonWriter* json, const char* key, const char* text) {
  WriteJsonText(json, key, text[0] != '\0' ? text : nullptr);
}

void WriteLauncherJson(JsonWriter* json, const PreflightReport& report) {
  OpenJsonObject(json, "launcher");
  bool ran = report.ran != 0;
  WriteJsonText(json, "directory", ran ? report.location.directory.text : nullptr);
  WriteJsonText(json, "name", ran ? report.location.name.text : nullptr);
  WriteHostPath(json, report.launcherHostPath);
  WriteJsonText(json, "runs_from", report.runsFrom.text);
  WriteJsonBool(json, "runs_in_drive_folder", ran);
  WriteOptionalText(json, "version", report.launcherVersion.text);
  CloseJsonObject(json);
}

void WriteSettingsJson(JsonWriter* json, const PreflightReport& report) {
  OpenJsonObject(json, "settings");
  WriteJsonText(json, "file",
                report.settingsPath.text[0] != '\0' ? report.settingsPath.text : nullptr);
  WriteHostPath(json, report.settingsHostPath);
  OpenJsonObject(json, "values");
  for (int i = 0; i < kSettingCount; ++i) {
    WriteJsonText(json, kSettingKeys[i],
                  report.settingRead[i] ? report.settingValues[i].text : nullptr);
  }
  CloseJsonObject(json);
  WriteJsonBool(json, "loaded", report.settingsLoaded != 0);
  WriteJsonText(json, "reason",
                report.settingsFile == Lookup::kUnknown ? report.settingsReason.text : nullptr);
  WriteRecords(json, report.settingsRecords);
  CloseJsonObject(json);
}

void WriteInstallerJson(JsonWriter* json, const PreflightReport& report) {
  OpenJsonObject(json, "installer");
  // The run composes the installer's path as it starts it: a run that stops before has none.
  bool reached = report.start != nullptr;
  WriteJsonText(json, "path", reached ? report.installerPath.text : nullptr);
  WriteHostPath(json, report.installerHostPath);
  if (reached) {
    WriteJsonNumber(json, "path_length", static_cast<long long>(strlen(report.installerPath.text)));
  } else {
    WriteJsonText(json, "path_length", nullptr);
  }
  WriteJsonNumber(json, "path_limit", kLaunchFieldCapacity - 1);
  bool starts = reached && report.installer == ProgramCheck::kStarts;
  const char* notReached = "the run stops before it starts the installer";
  WriteFinding(json, "file", ProgramCheckName(report),
               report.start == nullptr ? notReached
               : starts                ? nullptr
                                       : report.start->reason.text);
  bool fails = report.start != nullptr && !starts && report.installer != ProgramCheck::kUnknown;
  if (fails) {
    WriteJsonNumber(json, "start_error_code", report.start->error);
  } else {
    WriteJsonText(json, "start_error_code", nullptr);
  }
  char* message = nullptr;
  int length = fails ? FormatSystemMessage(report.start->error, &message) : 0;
  while (length > 0 && (message[length - 1] == '\r' || message[length - 1] == '\n')) {
    message[--length] = '\0';
  }
  WriteJsonText(json, "start_error", length > 0 ? message : nullptr);
  if (message != nullptr) ReleaseSystemMessage(message);
  WriteJsonText(json, "arguments", report.arguments.text);
  WriteLength(json, "arguments_length", "arguments_limit", report.argumentsLength,
              kInstallerArgumentsCapacity);
  WriteJsonBool(json, "arguments_fit", report.argumentsFit != 0);
  // The command line exists once the arguments fit; none has no length, and nothing to overflow.
  bool composed = report.start != nullptr;
  WriteJsonText(json, "command_line", composed ? report.commandLine.text : nullptr);
  if (composed) {
    WriteJsonNumber(json, "command_line_length",
                    static_cast<long long>(strlen(report.commandLine.text)));
  } else {
    WriteJsonText(json, "command_line_length", nullptr);
  }
  WriteJsonNumber(json, "command_line_limit", kLaunchFieldCapacity - 1);
  WriteJsonBool(json, "command_line_fits", true);
  WriteRecords(json, report.installerRecords);
  CloseJsonObject(json);
}

void WriteCheckJson(JsonWriter* json, const PreflightReport& report) {
  if (!report.checked) {
    WriteJsonText(json, "check", nullptr);
    return;
  }
  OpenJsonObject(json, "check");
  if (report.checkKey == Lookup::kUnknown) {
    WriteJsonText(json, "installed", nullptr);
  } else {
    WriteJsonBool(json, "installed", report.installed != 0);
  }
  WriteJsonText(json, "reason",
                report.checkKey == Lookup::kUnknown ? report.checkReason.text : nullptr);
  WriteRecords(json, report.checkRecords);
  CloseJsonObject(json);
}

void WritePatchInfoJson(JsonWriter* json, const PreflightReport& report) {
  OpenJsonObject(json, "patch_info");
  bool unused = report.patchInfo == PatchInfoLocation::kUnused;
  bool keysUnknown = report.patchInfoKeys == Lookup::kUnknown;
  WriteJsonText(json, "path", unused ? nullptr : report.patchInfoPath.text);
  WriteHostPath(json, report.patchInfoHostPath);
  WriteJsonText(json, "path_reason", keysUnknown ? report.patchInfoKeysReason.text : nullptr);
  const char* access = PatchInfoAccessName(report);
  bool explained = !unused && report.patchInfoAccess != FileAccess::kOpens &&
                   report.patchInfoAccess != FileAccess::kWouldCreate;
  WriteFinding(json, "access", access, explained ? report.patchInfoReason.text : nullptr);
  switch (report.patchIdRecord) {
    case PatchIdRecord::kHeld:
    case PatchIdRecord::kNotHeld:
      WriteJsonBool(json, "holds_patch_id", report.patchIdRecord == PatchIdRecord::kHeld);
      WriteJsonText(json, "holds_patch_id_reason", nullptr);
      break;
    case PatchIdRecord::kUnknown:
    case PatchIdRecord::kNotRead:
      WriteFinding(
          json, "holds_patch_id", nullptr,
          report.patchIdRecord == PatchIdRecord::kUnknown ? report.patchIdReason.text : nullptr);
      break;
  }
  WriteRecords(json, report.patchInfoRecords);
  CloseJsonObject(json);
}

void WriteLogJson(JsonWriter* json, const char* key, const char* path, const HostPath& hostPath,
                  int probed, FileAccess access, const DryReason& reason,
                  const RecordList* records) {
  OpenJsonObject(json, key);
  WriteJsonText(json, "path", path);
  WriteHostPath(json, hostPath);
  bool explained = access == FileAccess::kCannotOpen || access == FileAccess::kUnknown;
  WriteFinding(json, "access", probed ? AccessName(access) : nullptr,
               !probed     ? kNotRun
               : explained ? reason.text
                           : nullptr);
  if (records != nullptr) WriteRecords(json, *records);
  CloseJsonObject(json);
}

void WriteMarker(JsonWriter* json, const char* key, Lookup marker, const DryReason& reason) {
  if (marker == Lookup::kUnknown) {
    WriteFinding(json, key, nullptr, reason.text);
    return;
  }
  WriteJsonBool(json, key, marker == Lookup::kFound);
  char reasonKey[64];
  CopyBounded(reasonKey, sizeof reasonKey, key);
  AppendBounded(reasonKey, sizeof reasonKey, "_reason");
  WriteJsonText(json, reasonKey, nullptr);
}

void WriteRebootJson(JsonWriter* json, const PreflightReport& report) {
  OpenJsonObject(json, "reboot_pending");
  Lookup pending = RebootPending(report);
  if (pending == Lookup::kUnknown) {
    WriteJsonText(json, "pending", nullptr);
  } else {
    WriteJsonBool(json, "pending", pending == Lookup::kFound);
  }
  WriteMarker(json, "reboot_pending_key", report.cbsRebootPending, report.cbsReason);
  WriteMarker(json, "reboot_required_key", report.updateRebootRequired, report.updateReason);
  WriteMarker(json, "pending_file_rename_operations", report.renamesPending, report.renamesReason);
  CloseJsonObject(json);
}

void WriteStagingJson(JsonWriter* json, const PreflightReport& report) {
  const StagingReport& staging = report.staging;
  OpenJsonObject(json, "staging");
  WriteJsonText(json, "verdict", StagingVerdict(staging));
  WriteJsonText(json, "sums_file", report.sums != nullptr ? report.sums->shown.text : nullptr);
  WriteJsonNumber(json, "files", staging.files);
  OpenJsonArray(json, "findings");
  for (int i = 0; i < staging.findingCount && i < kMostStagingFindings; ++i) {
    const StagingFinding& finding = staging.findings[i];
    OpenJsonObject(json, nullptr);
    WriteOptionalText(json, "path", finding.path.text);
    WriteOptionalText(json, "host_path", finding.hostPath.text);
    WriteOptionalText(json, "who", finding.who.text);
    WriteJsonText(json, "how", finding.how.text);
    CloseJsonObject(json);
  }
  CloseJsonArray(json);
  int more = staging.findingCount - kMostStagingFindings;
  WriteJsonNumber(json, "more_findings", more > 0 ? more : 0);
  OpenJsonArray(json, "unknown");
  for (int i = 0; i < staging.unknownCount && i < kMostStagingUnknowns; ++i) {
    const StagingUnknown& unknown = staging.unknowns[i];
    OpenJsonObject(json, nullptr);
    WriteOptionalText(json, "path", unknown.path.text);
    WriteOptionalText(json, "host_path", unknown.hostPath.text);
    WriteJsonText(json, "reason", unknown.reason.text);
    CloseJsonObject(json);
  }
  CloseJsonArray(json);
  more = staging.unknownCount - kMostStagingUnknowns;
  WriteJsonNumber(json, "more_unknown", more > 0 ? more : 0);
  CloseJsonObject(json);
}

void WriteUnknownsJson(JsonWriter* json, const PreflightReport& report) {
  OpenJsonArray(json, "unknown");
  for (int i = 0; i < report.unknownCount; ++i) {
    OpenJsonObject(json, nullptr);
    WriteJsonText(json, "item", report.unknowns[i].item);
    WriteJsonText(json, "reason", report.unknowns[i].reason);
    CloseJsonObject(json);
  }
  CloseJsonArray(json);
}

void PrintRebootText(const PreflightReport& report, const ReportOutput& out) {
  PutFormatted(out,
               "reboot pending: %s (RebootPending key: %s, RebootRequired key: %s, "
               "PendingFileRenameOperations: %s)\n",
               LookupName(RebootPending(report)), LookupName(report.cbsRebootPending),
               LookupName(report.updateRebootRequired), LookupName(report.renamesPending));
}

void PrintUnknownsText(const PreflightReport& report, const ReportOutput& out) {
  for (int i = 0; i < report.unknownCount; ++i) {
    PutFormatted(out, "unknown: %s (%s)\n", report.unknowns[i].item, report.unknowns[i].reason);
  }
}

// ---- a host's state

// Whether the hotfix is installed: kUnknown, with `reason`, when the settings did not load or the
// check's key could not be read.
Lookup InstalledOnHost(const PreflightReport& report, const char** reason) {
  *reason = !report.settingsLoaded                ? "the settings did not load"
            : report.checkKey == Lookup::kUnknown ? report.checkReason.text
                                                  : nullptr;
  return *reason != nullptr ? Lookup::kUnknown
         : report.installed ? Lookup::kFound
                            : Lookup::kAbsent;
}

// The first reason a reboot marker could not be read, when none is known to be set.
const char* RebootReason(const PreflightReport& report) {
  if (RebootPending(report) != Lookup::kUnknown) return nullptr;
  const Lookup markers[] = {report.cbsRebootPending, report.updateRebootRequired,
                            report.renamesPending};
  const DryReason* reasons[] = {&report.cbsReason, &report.updateReason, &report.renamesReason};
  for (int i = 0; i < 3; ++i) {
    if (markers[i] == Lookup::kUnknown) return reasons[i]->text;
  }
  return nullptr;
}

const char* StateVerdictOf(int status) {
  switch (status) {
    case kStateNotInstalled:
      return "not installed";
    case kStateInstalled:
      return "installed";
    case kPreflightCannotTell:
      return "cannot tell";
  }
  return "settings broken";
}

const char* StateNextStepOf(const PreflightReport& report, int status) {
  const char* reason = nullptr;
  switch (status) {
    case kStateNotInstalled:
      return "the hotfix is not installed on this host.";
    case kStateInstalled:
      switch (PatchIdRecordedOnHost(report, &reason)) {
        case Lookup::kFound:
          return "the hotfix is installed, and the patch-info file holds its id.";
        case Lookup::kAbsent:
          return "the hotfix is installed, but the patch-info file lacks its id.";
        case Lookup::kUnknown:
          break;
      }
      return "the hotfix is installed; whether its id is recorded is not known (see above).";
    case kPreflightCannotTell:
      return "whether the hotfix is installed cannot be told; run it as an administrator or "
             "root. It could not read what the lines marked unknown name.";
  }
  return "mend the settings: a required setting is missing or too long.";
}

// A state item: "yes", "no", or "unknown (<reason>)" (recorded's "not used" is such a reason).
void PrintStateItem(const ReportOutput& out, const char* item, Lookup lookup, const char* reason) {
  if (lookup == Lookup::kUnknown) {
    PutFormatted(out, "%s: unknown (%s)\n", item, reason != nullptr ? reason : "");
  } else {
    PutFormatted(out, "%s: %s\n", item, LookupName(lookup));
  }
}

// A state item in JSON: true, false, or null with "<key>_reason".
void WriteStateItem(JsonWriter* json, const char* key, Lookup lookup, const char* reason) {
  if (lookup == Lookup::kUnknown) {
    WriteFinding(json, key, nullptr, reason);
  } else {
    WriteMarker(json, key, lookup, DryReason());
  }
}

}  // namespace

void PrintStateTextReport(const PreflightReport& report, int status, const ReportOutput& out) {
  PrintSettingsText(report, out);
  const char* installedReason = nullptr;
  const char* recordedReason = nullptr;
  Lookup installed = InstalledOnHost(report, &installedReason);
  Lookup recorded = PatchIdRecordedOnHost(report, &recordedReason);
  PrintStateItem(out, "installed", installed, installedReason);
  PrintRecords(report.checkRecords, out);
  PrintStateItem(out, "recorded", recorded, recordedReason);
  if (report.settingsLoaded) PrintPatchInfoText(report, out);
  PrintRebootText(report, out);
  PrintUnknownsText(report, out);
  PutFormatted(out, "status %d (%s): %s\n", status, StateVerdictOf(status),
               StateNextStepOf(report, status));
}

void PrintStateJsonReport(const PreflightReport& report, int status, const ReportOutput& out) {
  JsonWriter json;
  StartJson(&json, out);
  OpenJsonObject(&json, nullptr);
  WriteJsonNumber(&json, "status", status);
  WriteJsonText(&json, "verdict", StateVerdictOf(status));
  WriteJsonText(&json, "preflight_version", HOTFIX_VERSION);
  WriteJsonText(&json, "patch_id",
                report.settingRead[kPatchIdKey] ? report.settingValues[kPatchIdKey].text : nullptr);
  WriteSettingsJson(&json, report);
  OpenJsonObject(&json, "state");
  const char* installedReason = nullptr;
  const char* recordedReason = nullptr;
  Lookup installed = InstalledOnHost(report, &installedReason);
  Lookup recorded = PatchIdRecordedOnHost(report, &recordedReason);
  WriteStateItem(&json, "installed", installed, installedReason);
  WriteStateItem(&json, "recorded", recorded, recordedReason);
  WriteStateItem(&json, "reboot_pending", RebootPending(report), RebootReason(report));
  CloseJsonObject(&json);
  WriteCheckJson(&json, report);
  WritePatchInfoJson(&json, report);
  WriteRebootJson(&json, report);
  WriteUnknownsJson(&json, report);
  CloseJsonObject(&json);
  EndJson(&json);
}

void PrintTextReport(const PreflightReport& report, int status, const ReportOutput& out) {
  PrintLauncherText(report, out);
  PrintSettingsText(report, out);
  PrintInstallText(report, out);
  PrintPatchInfoText(report, out);
  PrintLogText(out, "run log", kRunLogPath, report.runLogProbed, report.runLogAccess,
               report.runLogReason);
  PrintLogText(out, "installer log", kInstallerLogPath, report.installerLogProbed,
               report.installerLogAccess, report.installerLogReason);
  PrintRebootText(report, out);
  PutFormatted(out, "installation in progress: %s\n", InstallationName(report.installation));
  if (report.freeSpaceKnown) {
    char digits[24];
    std::to_chars_result end = std::to_chars(digits, digits + sizeof digits - 1, report.freeSpace);
    *end.ptr = '\0';
    PutFormatted(out, "free space: %s bytes\n", digits);
  } else {
    PutText(out, "free space: not known\n");
  }
  PrintStagingText(report, out);
  PutFormatted(out, "records the launcher would write up to its check, in order: %d\n",
               report.runRecords.count);
  PrintRecords(report.runRecords, out);
  PrintUnknownsText(report, out);
  PutFormatted(out, "status %d (%s): %s\n", status, VerdictOf(status), NextStepOf(report, status));
}

void PrintJsonReport(const PreflightReport& report, int status, const ReportOutput& out) {
  JsonWriter json;
  StartJson(&json, out);
  OpenJsonObject(&json, nullptr);
  WriteJsonNumber(&json, "status", status);
  WriteJsonText(&json, "verdict", VerdictOf(status));
  WriteJsonText(&json, "preflight_version", HOTFIX_VERSION);
  WriteLauncherJson(&json, report);
  WriteSettingsJson(&json, report);
  if (report.settingsLoaded) {
    WriteInstallerJson(&json, report);
  } else {
    WriteJsonText(&json, "installer", nullptr);
  }
  WriteCheckJson(&json, report);
  WritePatchInfoJson(&json, report);
  WriteLogJson(&json, "run_log", kRunLogPath, report.runLogHostPath, report.runLogProbed,
               report.runLogAccess, report.runLogReason, &report.runRecords);
  WriteLogJson(&json, "installer_log", kInstallerLogPath, report.installerLogHostPath,
               report.installerLogProbed, report.installerLogAccess, report.installerLogReason,
               nullptr);
  WriteRebootJson(&json, report);
  WriteJsonText(&json, "installation_in_progress", InstallationName(report.installation));
  if (report.freeSpaceKnown) {
    WriteJsonNumber(&json, "free_space_bytes", static_cast<long long>(report.freeSpace));
  } else {
    WriteJsonText(&json, "free_space_bytes", nullptr);
  }
  WriteUnknownsJson(&json, report);
  WriteStagingJson(&json, report);
  CloseJsonObject(&json);
  EndJson(&json);
}
