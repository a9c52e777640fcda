// The preflight's two report forms over the same findings and the same names for their states.
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
  }
  return "cannot run";
}

// Installed, and the launcher would append the id that the patch-info file lacks.
bool RecordsOnly(const PreflightReport& report) {
  return report.settingsLoaded && report.installed && !PatchIdRecorded(report);
}

const char* NextStepOf(const PreflightReport& report, int status) {
  switch (status) {
    case kPreflightReady:
      return RecordsOnly(report)
                 ? "run the launcher; the hotfix is installed, and the launcher would run the "
                   "installer again and then append the id the patch-info file lacks."
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
    case PatchIdRecord::kNotRead:
      break;
  }
  return "";
}

const char* ProgramFileName(ProgramFile file) {
  switch (file) {
    case ProgramFile::kProgram:
      return "regular file";
    case ProgramFile::kMissing:
      return "missing";
    case ProgramFile::kNotRegular:
      return "not a regular file";
    case ProgramFile::kNotExecutable:
      return "not executable";
  }
  return "missing";
}

const char* AccessName(FileAccess access) {
  switch (access) {
    case FileAccess::kOpens:
      return "opens";
    case FileAccess::kWouldCreate:
      return "would be created";
    case FileAccess::kCannotOpen:
      break;
  }
  return "cannot be opened";
}

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

const char* YesNo(int value) { return value ? "yes" : "no"; }

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
void PrintMeasured(const ReportOutput& out, const char* item, const char* text, int capacity,
                   int fits) {
  PutFormatted(out, "%s (%d of %d characters%s): %s\n", item, static_cast<int>(strlen(text)),
               capacity - 1, fits ? "" : ", too long", text);
}

void PrintInstallText(const PreflightReport& report, const ReportOutput& out) {
  if (!report.settingsLoaded) {
    PutText(out, "installer: not known, the settings did not load\n");
    PutText(out, "check: not evaluated, the settings did not load\n");
    return;
  }
  PrintMeasured(out, "installer", report.installerPath.text, kLaunchFieldCapacity, true);
  PutFormatted(out, "installer file: %s\n", ProgramFileName(report.installerFile));
  PrintMeasured(out, "arguments", report.arguments.text, kInstallerArgumentsCapacity,
                report.argumentsFit);
  PrintRecords(report.argumentRecords, out);
  if (report.argumentsFit) {
    PrintMeasured(out, "command line", report.commandLine.text, kLaunchFieldCapacity,
                  report.commandFits);
  }
  PutFormatted(out, "check: %s\n",
               !report.installed     ? "not installed"
               : RecordsOnly(report) ? "installed; the launcher would record the id"
                                     : "installed");
  PrintRecords(report.checkRecords, out);
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

void WriteLength(JsonWriter* json, const char* key, const char* limitKey, const char* text,
                 int capacity) {
  WriteJsonNumber(json, key, static_cast<long long>(strlen(text)));
  WriteJsonNumber(json, limitKey, capacity - 1);
}

void WriteSettingsJson(JsonWriter* json, const PreflightReport& report) {
  OpenJsonObject(json, "settings");
  WriteJsonText(json, "file",
                report.settingsPath.text[0] != '\0' ? report.settingsPath.text : nullptr);
  WriteHostPath(json, report.settingsHostPath);
  OpenJsonObject(json, "values");
  for (int i = 0; i < kSettingCount; ++i) {
    WriteJsonText(json, kSettingKeys[i],
                  report.settingsPath.text[0] != '\0' ? report.settingValues[i].text : nullptr);
  }
  CloseJsonObject(json);
  WriteJsonBool(json, "loaded", report.settingsLoaded != 0);
  WriteRecords(json, report.settingsRecords);
  CloseJsonObject(json);
}

void WriteInstallJson(JsonWriter* json, const PreflightReport& report) {
  if (!report.settingsLoaded) {
    WriteJsonText(json, "installer", nullptr);
    WriteJsonText(json, "check", nullptr);
    return;
  }
  OpenJsonObject(json, "installer");
  WriteJsonText(json, "path", report.installerPath.text);
  WriteHostPath(json, report.installerHostPath);
  WriteLength(json, "path_length", "path_limit", report.installerPath.text, kLaunchFieldCapacity);
  WriteJsonText(json, "file", ProgramFileName(report.installerFile));
  WriteJsonText(json, "arguments", report.arguments.text);
  WriteLength(json, "arguments_length", "arguments_limit", report.arguments.text,
              kInstallerArgumentsCapacity);
  WriteJsonBool(json, "arguments_fit", report.argumentsFit != 0);
  WriteJsonText(json, "command_line", report.argumentsFit ? report.commandLine.text : nullptr);
  WriteLength(json, "command_line_length", "command_line_limit", report.commandLine.text,
              kLaunchFieldCapacity);
  WriteJsonBool(json, "command_line_fits", report.commandFits != 0);
  WriteRecords(json, report.argumentRecords);
  CloseJsonObject(json);

  OpenJsonObject(json, "check");
  WriteJsonBool(json, "installed", report.installed != 0);
  WriteRecords(json, report.checkRecords);
  CloseJsonObject(json);
}

void WriteFileJson(JsonWriter* json, const char* key, const char* path, const HostPath& hostPath,
                   const char* access) {
  OpenJsonObject(json, key);
  WriteJsonText(json, "path", path);
  WriteHostPath(json, hostPath);
  WriteJsonText(json, "access", access);
  CloseJsonObject(json);
}

}  // namespace

void PrintTextReport(const PreflightReport& report, int status, const ReportOutput& out) {
  PutFormatted(out, "launcher: %s%s\n", report.location.directory.text, report.location.name.text);
  PutFormatted(out, "settings: %s, %s\n",
               report.settingsPath.text[0] != '\0' ? report.settingsPath.text : "(no path)",
               report.settingsLoaded ? "loaded" : "not loaded");
  if (report.settingsPath.text[0] != '\0') {
    for (int i = 0; i < kSettingCount; ++i) {
      PutFormatted(out, "  %s=%s\n", kSettingKeys[i], report.settingValues[i].text);
    }
  }
  PrintRecords(report.settingsRecords, out);
  PrintInstallText(report, out);
  if (report.patchInfo == PatchInfoLocation::kUnused) {
    PutText(out, "patch-info file: not used, ProgramPath is not in the registry\n");
  } else {
    PutFormatted(out, "patch-info file: %s: %s%s\n", report.patchInfoPath.text,
                 PatchInfoAccessName(report), PatchIdRecordNote(report.patchIdRecord));
  }
  PrintRecords(report.patchInfoRecords, out);
  PutFormatted(out, "run log: %s: %s\n", kRunLogPath, AccessName(report.runLogAccess));
  PutFormatted(out, "installer log: %s: %s\n", kInstallerLogPath,
               AccessName(report.installerLogAccess));
  PutFormatted(out,
               "reboot pending: %s (RebootPending key: %s, RebootRequired key: %s, "
               "PendingFileRenameOperations: %s)\n",
               YesNo(RebootPending(report)), YesNo(report.cbsRebootPending),
               YesNo(report.updateRebootRequired), YesNo(report.renamesPending));
  PutFormatted(out, "installation in progress: %s\n", InstallationName(report.installation));
  if (report.freeSpaceKnown) {
    char digits[24];
    std::to_chars_result end = std::to_chars(digits, digits + sizeof digits - 1, report.freeSpace);
    *end.ptr = '\0';
    PutFormatted(out, "free space: %s bytes\n", digits);
  } else {
    PutText(out, "free space: not known\n");
  }
  PutFormatted(out, "status %d (%s): %s\n", status, VerdictOf(status), NextStepOf(report, status));
}

void PrintJsonReport(const PreflightReport& report, int status, const ReportOutput& out) {
  JsonWriter json;
  StartJson(&json, out);
  OpenJsonObject(&json, nullptr);
  WriteJsonNumber(&json, "status", status);
  WriteJsonText(&json, "verdict", VerdictOf(status));
  OpenJsonObject(&json, "launcher");
  WriteJsonText(&json, "directory", report.location.directory.text);
  WriteJsonText(&json, "name", report.location.name.text);
  WriteHostPath(&json, report.launcherHostPath);
  CloseJsonObject(&json);
  WriteSettingsJson(&json, report);
  WriteInstallJson(&json, report);

  OpenJsonObject(&json, "patch_info");
  WriteJsonText(
      &json, "path",
      report.patchInfo == PatchInfoLocation::kUnused ? nullptr : report.patchInfoPath.text);
  WriteHostPath(&json, report.patchInfoHostPath);
  WriteJsonText(&json, "access", PatchInfoAccessName(report));
  if (report.patchIdRecord == PatchIdRecord::kNotRead) {
    WriteJsonText(&json, "holds_patch_id", nullptr);
  } else {
    WriteJsonBool(&json, "holds_patch_id", report.patchIdRecord == PatchIdRecord::kHeld);
  }
  WriteRecords(&json, report.patchInfoRecords);
  CloseJsonObject(&json);
  WriteFileJson(&json, "run_log", kRunLogPath, report.runLogHostPath,
                AccessName(report.runLogAccess));
  WriteFileJson(&json, "installer_log", kInstallerLogPath, report.installerLogHostPath,
                AccessName(report.installerLogAccess));

  OpenJsonObject(&json, "reboot_pending");
  WriteJsonBool(&json, "pending", RebootPending(report) != 0);
  WriteJsonBool(&json, "reboot_pending_key", report.cbsRebootPending != 0);
  WriteJsonBool(&json, "reboot_required_key", report.updateRebootRequired != 0);
  WriteJsonBool(&json, "pending_file_rename_operations", report.renamesPending != 0);
  CloseJsonObject(&json);
  WriteJsonText(&json, "installation_in_progress", InstallationName(report.installation));
  if (report.freeSpaceKnown) {
    WriteJsonNumber(&json, "free_space_bytes", static_cast<long long>(report.freeSpace));
  } else {
    WriteJsonText(&json, "free_space_bytes", nullptr);
  }
  CloseJsonObject(&json);
  EndJson(&json);
}
